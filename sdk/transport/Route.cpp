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

std::optional<Endpoint> parseEndpoint(std::string_view text) {
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos || colon > os::maxIpv4TextLength)
        return std::nullopt;
    const auto address = os::parseIpv4Address(std::string(text.substr(0, colon)));
    if (!address)
        return std::nullopt;
    const auto portText = text.substr(colon + 1);
    if (portText.empty() || portText.size() > 5 || portText.front() == '0')
        return std::nullopt;
    unsigned port = 0;
    const auto [end, error] =
        std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (error != std::errc() || end != portText.data() + portText.size() || port > 65535)
        return std::nullopt;
    return Endpoint{*address, static_cast<std::uint16_t>(port)};
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
