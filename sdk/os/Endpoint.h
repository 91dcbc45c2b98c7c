#pragma once

// An IPv4 address and UDP port, and the dotted text of an address.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace sdk::os {

// Both in host byte order.
struct Endpoint {
    std::uint32_t address = 0;
    std::uint16_t port = 0;

    bool operator==(const Endpoint&) const = default;
    // "a.b.c.d:port"
    std::string toString() const;
};

// The longest dotted address, "255.255.255.255".
inline constexpr std::size_t maxIpv4TextLength = 15;

// The address of dotted text (four decimal parts), nothing for anything else.
std::optional<std::uint32_t> parseIpv4Address(const std::string& text);

} // namespace sdk::os
