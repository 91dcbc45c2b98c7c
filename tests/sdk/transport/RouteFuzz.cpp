#include "sdk/transport/Keys.h"
#include "sdk/transport/Route.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {
void check(std::string_view text) {
    const auto route = sdk::transport::parseRoute(text);
    if (!route)
        return;
    if (route->endpoints.empty() || route->endpoints.size() > sdk::transport::maxRouteEndpoints ||
        text.size() > sdk::transport::maxRouteLength)
        std::abort();
    if (sdk::transport::formatRoute(*route) != text)
        std::abort();
    for (const auto& endpoint : route->endpoints)
        if (endpoint.port == 0)
            std::abort();
}
} // namespace

// Any text either is refused or is a route that is written back exactly as
// it was read, within the limits. The input is tried as it is, and after a
// valid key made of its first 32 bytes, to reach the endpoint parser.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check(std::string_view(reinterpret_cast<const char*>(data), size));
    if (size >= 32) {
        sdk::transport::PublicKey key;
        std::copy_n(data, 32, key.begin());
        check("vr1 " + sdk::transport::keyToText(key) + " " +
              std::string(reinterpret_cast<const char*>(data) + 32, size - 32));
    }
    return 0;
}
