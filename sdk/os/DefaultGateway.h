#pragma once

// The IPv4 address of the default gateway of the calling thread's network
// (a thread may live in another network namespace than its process): the
// home router that port mapping asks. None without a default route.

#include <cstdint>
#include <optional>

namespace sdk::os {

std::optional<std::uint32_t> defaultGatewayIpv4(); // host byte order

} // namespace sdk::os
