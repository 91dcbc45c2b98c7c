#pragma once

// What counts as one source of datagrams: an IPv4 address, or the whole /64
// of an IPv6 address (one machine may pick any address in it). Kept whole,
// so two sources never share a key.

#include "sdk/os/Endpoint.h"

#include <array>
#include <cstdint>

namespace sdk::transport {

// IPv4: the mapped address as it is; IPv6: its first 8 bytes, the rest zero.
// The two never meet: a mapped address has 0xffff in bytes 10 and 11.
using SourceKey = std::array<std::uint8_t, 16>;

inline SourceKey sourceKeyOf(const os::Endpoint& from) {
    SourceKey key = from.bytes();
    if (!from.isIpv4())
        for (std::size_t i = 8; i < key.size(); ++i)
            key[i] = 0;
    return key;
}

} // namespace sdk::transport
