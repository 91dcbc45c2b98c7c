#pragma once

// The route text: where a core can be reached and the key it must prove.
//
//   vr1 <public key, base64url without padding> <endpoint> [<endpoint> ...]
//
// An endpoint is "a.b.c.d:port" or "[v6]:port" (shortest lower-case IPv6 text).
//
// Fields are separated by one space; 1 to 16 endpoints; at most 4095 bytes.

#include "sdk/transport/Types.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sdk::transport {

constexpr std::size_t maxRouteLength = 4095;
constexpr std::size_t maxRouteEndpoints = 16;

struct Route {
    PublicKey key{};
    std::vector<Endpoint> endpoints;

    bool operator==(const Route&) const = default;
};

std::string formatRoute(const Route& route);
std::optional<Route> parseRoute(std::string_view text);
std::optional<Endpoint> parseEndpoint(std::string_view text);

} // namespace sdk::transport
