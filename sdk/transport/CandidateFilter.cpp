#include "sdk/transport/CandidateFilter.h"

namespace sdk::transport {

namespace {
struct Ipv4Range {
    std::uint32_t base;
    int prefix;
    AddressScope scope;
};

// The more specific ranges first.
constexpr Ipv4Range ipv4Ranges[] = {
    {0xffffffffu, 32, AddressScope::broadcast},  // 255.255.255.255
    {0x00000000u, 8, AddressScope::unspecified}, // 0.0.0.0/8, "this network"
    {0x7f000000u, 8, AddressScope::loopback},    // 127.0.0.0/8
    {0xa9fe0000u, 16, AddressScope::linkLocal},  // 169.254.0.0/16
    {0xe0000000u, 4, AddressScope::multicast},   // 224.0.0.0/4
    {0xf0000000u, 4, AddressScope::reserved},    // 240.0.0.0/4
};

bool inRange(std::uint32_t address, std::uint32_t base, int prefix) {
    const std::uint32_t mask = prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - prefix);
    return (address & mask) == (base & mask);
}

AddressScope ipv6ScopeOf(const Endpoint::Bytes& bytes) {
    bool zeroTo11 = true;
    for (std::size_t i = 0; i < 12; ++i)
        zeroTo11 = zeroTo11 && bytes[i] == 0;
    if (zeroTo11) {
        // ::, ::1, and the old IPv4-compatible ::a.b.c.d, which nothing routes.
        if (bytes[12] == 0 && bytes[13] == 0 && bytes[14] == 0)
            return bytes[15] == 0   ? AddressScope::unspecified
                   : bytes[15] == 1 ? AddressScope::loopback
                                    : AddressScope::reserved;
        return AddressScope::reserved;
    }
    if (bytes[0] == 0xff)
        return AddressScope::multicast; // ff00::/8
    if (bytes[0] == 0xfe && (bytes[1] & 0xc0) == 0x80)
        return AddressScope::linkLocal; // fe80::/10
    if (bytes[0] == 0xfe && (bytes[1] & 0xc0) == 0xc0)
        return AddressScope::reserved; // fec0::/10, site-local, given up long ago
    return AddressScope::usable;
}
} // namespace

AddressScope scopeOf(const Endpoint& endpoint) {
    if (!endpoint.isIpv4())
        return ipv6ScopeOf(endpoint.bytes());
    const std::uint32_t address = endpoint.ipv4();
    for (const auto& range : ipv4Ranges)
        if (inRange(address, range.base, range.prefix))
            return range.scope;
    return AddressScope::usable;
}

bool usableCandidate(const Endpoint& endpoint, bool ownLoopback) {
    if (endpoint.port == 0)
        return false;
    const AddressScope scope = scopeOf(endpoint);
    return scope == AddressScope::usable || (scope == AddressScope::loopback && ownLoopback);
}

} // namespace sdk::transport
