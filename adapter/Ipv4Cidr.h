#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// An IPv4 address with its prefix length, written a.b.c.d/n.
struct Ipv4Cidr {
    // Network byte order: the octets a, b, c, d lie in memory in that order.
    std::uint32_t address = 0;
    std::uint8_t prefix = 0;

    // Scans text as sscanf's "%u.%u.%u.%u/%u" does. Text without five numbers
    // gives the all-zero value; an octet above 255 or a prefix above 32
    // throws std::range_error "Invalid IP Address".
    static Ipv4Cidr parse(const char* text);

    std::string toString() const;

    // The mask of the prefix, in network byte order.
    std::uint32_t netmask() const;

    // The address n further on, with the same prefix; throws std::range_error
    // "resultant CIDR out of range" when that leaves the network.
    Ipv4Cidr offset(std::uint32_t n) const;

    bool operator==(const Ipv4Cidr&) const = default;
};

// An address alone in dotted decimal, as inet_pton reads it: four numbers of
// at most 255, without leading zeros, and nothing else. Network byte order.
std::optional<std::uint32_t> parseIpv4Address(std::string_view text);

// "a.b.c.d" of an address in network byte order.
std::string ipv4AddressText(std::uint32_t address);
