#pragma once

// The operating system's own reading of IPv4 address text (inet_pton), for
// tests that build expected values with it or compare the program's reading
// against it. Also brings htonl.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif

#include <cstdint>
#include <optional>

namespace testsupport {

inline std::optional<std::uint32_t> systemIpv4(const char* text) {
    in_addr parsed{};
    if (inet_pton(AF_INET, text, &parsed) != 1)
        return std::nullopt;
    return parsed.s_addr;
}

} // namespace testsupport
