#pragma once

// The multicast groups this machine's interfaces hold, as /proc/net/igmp
// lists them: the memberships local programs made, with the interface each
// one was made on.

#include <cstdint>
#include <string_view>
#include <vector>

struct GroupMembership {
    std::uint32_t interfaceIndex = 0;
    std::uint32_t group = 0; // network byte order
    bool operator==(const GroupMembership&) const = default;
};

// Reads the table's text; lines it does not understand are passed over.
std::vector<GroupMembership> parseIgmpTable(std::string_view text);
