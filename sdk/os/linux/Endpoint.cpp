#include "sdk/os/Endpoint.h"

#include <arpa/inet.h>

#include <cstring>

namespace sdk::os {

static_assert(maxIpv4TextLength == INET_ADDRSTRLEN - 1);
static_assert(maxIpv6TextLength == INET6_ADDRSTRLEN - 1);

Endpoint::Bytes Endpoint::mappedPrefix() {
    Bytes prefix{};
    prefix[10] = 0xff;
    prefix[11] = 0xff;
    return prefix;
}

Endpoint::Endpoint(std::uint32_t ipv4, std::uint16_t port) : port(port) {
    address[12] = static_cast<std::uint8_t>(ipv4 >> 24);
    address[13] = static_cast<std::uint8_t>(ipv4 >> 16);
    address[14] = static_cast<std::uint8_t>(ipv4 >> 8);
    address[15] = static_cast<std::uint8_t>(ipv4);
}

Endpoint Endpoint::fromBytes(const Bytes& bytes, std::uint16_t port) {
    Endpoint endpoint;
    endpoint.address = bytes;
    endpoint.port = port;
    return endpoint;
}

bool Endpoint::isIpv4() const {
    const Bytes prefix = mappedPrefix();
    return std::memcmp(address.data(), prefix.data(), 12) == 0;
}

std::uint32_t Endpoint::ipv4() const {
    if (!isIpv4())
        return 0;
    return std::uint32_t{address[12]} << 24 | std::uint32_t{address[13]} << 16 |
           std::uint32_t{address[14]} << 8 | address[15];
}

bool Endpoint::unspecifiedAddress() const {
    return isIpv4() ? ipv4() == 0 : address == Bytes{};
}

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
    if (inet_pton(AF_INET, text.c_str(), &value) != 1)
        return std::nullopt;
    return ntohl(value.s_addr);
}

std::optional<Endpoint::Bytes> parseIpv6Address(const std::string& text) {
    in6_addr value{};
    if (inet_pton(AF_INET6, text.c_str(), &value) != 1)
        return std::nullopt;
    Endpoint::Bytes bytes{};
    std::memcpy(bytes.data(), &value, bytes.size());
    return bytes;
}

} // namespace sdk::os
