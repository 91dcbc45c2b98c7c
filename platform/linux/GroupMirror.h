#pragma once

// Programs that join a multicast group without choosing an interface join it
// on the interface of the default route; the system then takes the group in
// only there. Holding the same groups on the adapter lets the VPN's copies
// in as well, and the system hands them to every socket bound to the port
// (IP_MULTICAST_ALL, on by default), those programs' sockets among them.

#include "platform/linux/IgmpTable.h"

#include <cstdint>
#include <set>

class GroupMirror {
public:
    // The most groups held at once: the system's default per socket.
    static constexpr std::size_t largest = 20;

    GroupMirror();
    ~GroupMirror();
    GroupMirror(const GroupMirror&) = delete;
    GroupMirror& operator=(const GroupMirror&) = delete;

    // Joins on the adapter what local programs hold elsewhere now, and leaves
    // what they no longer hold. Link-local groups (224.0.0.0/24) are left out.
    void mirrorOnto(std::uint32_t adapterIndex);

    // The groups that the memberships call for on the adapter.
    static std::set<std::uint32_t> wanted(const std::vector<GroupMembership>& memberships,
                                          std::uint32_t adapterIndex);

private:
    bool change(int option, std::uint32_t group) const;

    int descriptor = -1;
    std::uint32_t joinedOn = 0;
    std::set<std::uint32_t> joined;
};
