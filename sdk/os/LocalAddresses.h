#pragma once

// The IPv4 addresses of this machine's interfaces that are up, loopback
// excluded; none when there is no other or the interfaces cannot be read
// (a route without endpoints: nobody is sent to 127.0.0.1, which would be
// every member's own machine).

#include <cstdint>
#include <vector>

namespace sdk::os {

std::vector<std::uint32_t> localIpv4Addresses();
bool isLoopbackAddress(std::uint32_t address); // 127.0.0.0/8, host byte order

} // namespace sdk::os
