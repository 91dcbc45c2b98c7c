#include "sdk/core/Settings.h"

#include "sdk/control/ControlProtocol.h"
#include "sdk/transport/Route.h"

#include <charconv>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

namespace sdk {

namespace {
std::optional<std::string_view> variable(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value)
        return std::nullopt;
    return std::string_view(value);
}

[[noreturn]] void refuse(const char* name, std::string_view value, const char* expected) {
    throw std::invalid_argument(std::string(name) + "=\"" + std::string(value) +
                                "\" is not valid: expected " + expected);
}

template <typename Number>
Number numberOf(const char* name, std::string_view text, Number low, Number high,
                const char* expected) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high)
        refuse(name, text, expected);
    return value;
}

transport::Milliseconds durationOf(const char* name, transport::Milliseconds fallback) {
    const auto text = variable(name);
    if (!text)
        return fallback;
    return transport::Milliseconds(
        numberOf<long>(name, *text, 1, 3'600'000, "milliseconds from 1 to 3600000"));
}

bool flagOf(const char* name, bool fallback = false) {
    const auto text = variable(name);
    if (!text)
        return fallback;
    if (*text == "0" || *text == "false" || *text == "no" || *text == "off")
        return false;
    if (*text == "1" || *text == "true" || *text == "yes" || *text == "on")
        return true;
    refuse(name, *text, "1, true, yes, on, 0, false, no or off");
}

std::vector<transport::Endpoint> addressesOf(const char* name) {
    std::vector<transport::Endpoint> addresses;
    const auto text = variable(name);
    if (!text)
        return addresses;
    std::string_view rest = *text;
    while (true) {
        const auto comma = rest.find(',');
        const auto item = rest.substr(0, comma);
        const bool ipv6 = item.find(':') != std::string_view::npos;
        const auto endpoint = transport::parseEndpoint(ipv6 ? "[" + std::string(item) + "]:1"
                                                            : std::string(item) + ":1");
        if (!endpoint)
            refuse(name, *text, "IPv4 or IPv6 addresses separated by commas");
        addresses.push_back(transport::Endpoint::fromBytes(endpoint->bytes(), 0));
        if (comma == std::string_view::npos)
            break;
        rest.remove_prefix(comma + 1);
    }
    if (addresses.size() > transport::maxRouteEndpoints)
        refuse(name, *text, "at most 16 addresses");
    return addresses;
}
} // namespace

Settings Settings::fromEnvironment() {
    Settings settings;
    settings.serviceUnavailable = flagOf("VASKOR_SDK_UNAVAILABLE");
    if (const auto text = variable("VASKOR_SDK_PORT"))
        settings.port = numberOf<std::uint16_t>("VASKOR_SDK_PORT", *text, 0, 65535,
                                                "a UDP port number from 0 to 65535");
    settings.announcedAddresses = addressesOf("VASKOR_SDK_ADDRESSES");
    if (const auto text = variable("VASKOR_SDK_USER_ID"))
        settings.userId = numberOf<std::int64_t>("VASKOR_SDK_USER_ID", *text, 1, INT64_MAX,
                                                 "a positive 64-bit number");
    if (const auto text = variable("VASKOR_SDK_USER_NAME"))
        settings.userName = std::string(*text);
    settings.peerTimeout = durationOf("VASKOR_SDK_PEER_TIMEOUT_MS", settings.peerTimeout);
    settings.keepAliveInterval = durationOf("VASKOR_SDK_KEEPALIVE_MS", settings.keepAliveInterval);
    settings.handshakeRetry = durationOf("VASKOR_SDK_HANDSHAKE_RETRY_MS", settings.handshakeRetry);
    if (const auto text = variable("VASKOR_SDK_CIPHER")) {
        if (*text == "chacha20")
            settings.allowAes = false;
        else if (*text != "auto")
            refuse("VASKOR_SDK_CIPHER", *text, "auto or chacha20");
    }
    settings.portMapping = flagOf("VASKOR_SDK_PORT_MAPPING", true);
    settings.batchDatagrams = flagOf("VASKOR_SDK_BATCH", true);
    if (const auto text = variable("VASKOR_SDK_JOIN")) {
        if (invitationProblem(*text))
            refuse("VASKOR_SDK_JOIN", *text, "an invitation as the client window shows it");
        settings.launchInvitation = std::string(*text);
    }
    if (const auto text = variable("VASKOR_SDK_FAULT"))
        settings.faultAt = std::string(*text);
    return settings;
}

} // namespace sdk
