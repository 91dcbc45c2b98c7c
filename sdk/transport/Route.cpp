#include "sdk/transport/Route.h"

#include "sdk/transport/Keys.h"

#include <charconv>

namespace sdk::transport {

namespace {
constexpr std::string_view routePrefix = "vr1";

std::vector<std::string_view> splitOnSpaces(std::string_view text) {
    std::vector<std::string_view> fields;
    while (true) {
        const auto space = text.find(' ');
        fields.push_back(text.substr(0, space));
        if (space == std::string_view::npos)
            return fields;
        text.remove_prefix(space + 1);
    }
}
} // namespace

namespace {
std::optional<std::uint16_t> parsePort(std::string_view portText) {
    if (portText.empty() || portText.size() > 5 || portText.front() == '0')
        return std::nullopt;
    unsigned port = 0;
    const auto [end, error] =
        std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (error != std::errc() || end != portText.data() + portText.size() || port > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(port);
}

// "[v6]:port" in its one spelling: the shortest lower-case text, and never an
// IPv4-mapped address (that one is written dotted).
std::optional<Endpoint> parseIpv6Endpoint(std::string_view text) {
    const auto close = text.find("]:");
    if (close == std::string_view::npos || close - 1 > os::maxIpv6TextLength)
        return std::nullopt;
    const auto address = os::parseIpv6Address(std::string(text.substr(1, close - 1)));
    const auto port = parsePort(text.substr(close + 2));
    if (!address || !port)
        return std::nullopt;
    const auto endpoint = Endpoint::fromBytes(*address, *port);
    if (endpoint.isIpv4() || endpoint.toString() != text)
        return std::nullopt;
    return endpoint;
}
} // namespace

std::optional<Endpoint> parseEndpoint(std::string_view text) {
    if (!text.empty() && text.front() == '[')
        return parseIpv6Endpoint(text);
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos || colon > os::maxIpv4TextLength)
        return std::nullopt;
    const auto address = os::parseIpv4Address(std::string(text.substr(0, colon)));
    const auto port = parsePort(text.substr(colon + 1));
    if (!address || !port)
        return std::nullopt;
    return Endpoint{*address, *port};
}

std::string formatRoute(const Route& route) {
    std::string text(routePrefix);
    text += ' ';
    text += keyToText(route.key);
    for (const auto& endpoint : route.endpoints) {
        text += ' ';
        text += endpoint.toString();
    }
    return text;
}

std::optional<Route> parseRoute(std::string_view text) {
    if (text.size() > maxRouteLength)
        return std::nullopt;
    const auto fields = splitOnSpaces(text);
    if (fields.size() < 3 || fields.size() > 2 + maxRouteEndpoints || fields[0] != routePrefix)
        return std::nullopt;
    const auto key = keyFromText(fields[1]);
    if (!key)
        return std::nullopt;
    Route route{*key, {}};
    for (std::size_t i = 2; i < fields.size(); ++i) {
        const auto endpoint = parseEndpoint(fields[i]);
        if (!endpoint || endpoint->port == 0)
            return std::nullopt;
        route.endpoints.push_back(*endpoint);
    }
    return route;
}

} // namespace sdk::transport
