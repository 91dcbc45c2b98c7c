#include "sdk/os/Endpoint.h"

#include <arpa/inet.h>

namespace sdk::os {

static_assert(maxIpv4TextLength == INET_ADDRSTRLEN - 1);

std::string Endpoint::toString() const {
    in_addr value{htonl(address)};
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &value, text, sizeof text);
    return std::string(text) + ":" + std::to_string(port);
}

std::optional<std::uint32_t> parseIpv4Address(const std::string& text) {
    in_addr value{};
    if (inet_pton(AF_INET, text.c_str(), &value) != 1)
        return std::nullopt;
    return ntohl(value.s_addr);
}

} // namespace sdk::os
