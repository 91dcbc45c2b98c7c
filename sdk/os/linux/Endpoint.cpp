#include "sdk/os/Endpoint.h"

#include <arpa/inet.h>

#include <cstring>

namespace sdk::os {

static_assert(maxIpv4TextLength == INET_ADDRSTRLEN - 1);
static_assert(maxIpv6TextLength == INET6_ADDRSTRLEN - 1);

std::string Endpoint::toString() const {
    if (isIpv4()) {
        in_addr value{htonl(ipv4())};
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &value, text, sizeof text);
        return std::string(text) + ":" + std::to_string(port);
    }
    in6_addr value{};
    std::memcpy(&value, address.data(), address.size());
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, &value, text, sizeof text);
    return "[" + std::string(text) + "]:" + std::to_string(port);
}

std::optional<std::uint32_t> parseIpv4Address(const std::string& text) {
    in_addr value{};
    // inet_pton would stop at a NUL inside the text and take what came before.
    if (text.find('\0') != std::string::npos || inet_pton(AF_INET, text.c_str(), &value) != 1)
        return std::nullopt;
    return ntohl(value.s_addr);
}

std::optional<Endpoint::Bytes> parseIpv6Address(const std::string& text) {
    in6_addr value{};
    if (text.find('\0') != std::string::npos || inet_pton(AF_INET6, text.c_str(), &value) != 1)
        return std::nullopt;
    Endpoint::Bytes bytes{};
    std::memcpy(bytes.data(), &value, bytes.size());
    return bytes;
}

} // namespace sdk::os
