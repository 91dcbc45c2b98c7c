#pragma once

// The IPv4 addresses of this machine's interfaces that are up, loopback
// excluded; just loopback when there is no other, so a lone machine still
// has a route.

#include <cstdint>
#include <vector>

namespace sdk::os {

std::vector<std::uint32_t> localIpv4Addresses();

} // namespace sdk::os
