#pragma once

// The IPv4 addresses of this machine's interfaces that are up, loopback
// excluded; none when there is no other or the interfaces cannot be read
// (a route without endpoints: nobody is sent to 127.0.0.1, which would be
// every member's own machine).

#include "sdk/os/Endpoint.h"

#include <cstdint>
#include <vector>

namespace sdk::os {

std::vector<std::uint32_t> localIpv4Addresses();
// Global unicast IPv6 addresses (2000::/3) of interfaces that are up, under
// the same rules, without temporary, deprecated or not yet verified ones:
// link-local ones need an interface to be named and unique-local ones reach
// no further than the site, whose machines meet over IPv4 as well.
std::vector<Endpoint::Bytes> localIpv6Addresses();
bool isLoopbackAddress(std::uint32_t address); // 127.0.0.0/8, host byte order

} // namespace sdk::os
