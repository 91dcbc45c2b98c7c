#include "sdk/os/Endpoint.h"

#include <winsock2.h> // before the other system headers

#include <ws2tcpip.h>

#include <cstring>

namespace sdk::os {

namespace {

std::string dotted(std::uint32_t address) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        text += std::to_string((address >> shift) & 0xff);
        if (shift > 0)
            text += '.';
    }
    return text;
}

// The same text as glibc's inet_ntop, so that a route reads alike on every
// system: lower-case groups without leading zeros, the longest run of two or
// more zero groups (the first of equal ones) as "::", and an IPv4-compatible
// address (::a.b.c.d) with its dotted tail.
std::string ipv6Text(const Endpoint::Bytes& bytes) {
    std::uint16_t words[8];
    for (int i = 0; i < 8; ++i)
        words[i] = static_cast<std::uint16_t>(bytes[static_cast<std::size_t>(2 * i)] << 8 |
                                              bytes[static_cast<std::size_t>(2 * i + 1)]);
    int bestBase = -1, bestLength = 0;
    for (int i = 0; i < 8;) {
        if (words[i] != 0) {
            ++i;
            continue;
        }
        int length = 0;
        while (i + length < 8 && words[i + length] == 0)
            ++length;
        if (length > bestLength) {
            bestBase = i;
            bestLength = length;
        }
        i += length;
    }
    if (bestLength < 2)
        bestBase = -1;
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < 8; ++i) {
        if (bestBase >= 0 && i >= bestBase && i < bestBase + bestLength) {
            if (i == bestBase)
                text += ':';
            continue;
        }
        if (i > 0)
            text += ':';
        if (i == 6 && bestBase == 0 &&
            (bestLength == 6 || (bestLength == 7 && words[7] != 1) ||
             (bestLength == 5 && words[5] == 0xffff))) {
            text += dotted(std::uint32_t{words[6]} << 16 | words[7]);
            return text;
        }
        bool started = false;
        for (int shift = 12; shift >= 0; shift -= 4) {
            const int digit = (words[i] >> shift) & 15;
            if (digit != 0 || started || shift == 0) {
                text += digits[digit];
                started = true;
            }
        }
    }
    if (bestBase >= 0 && bestBase + bestLength == 8)
        text += ':';
    return text;
}

} // namespace

std::string Endpoint::toString() const {
    if (isIpv4())
        return dotted(ipv4()) + ":" + std::to_string(port);
    return "[" + ipv6Text(address) + "]:" + std::to_string(port);
}

// inet_pton needs no started Winsock; the text it takes is checked against
// the written form by the route's parser anyway.
std::optional<Endpoint::Bytes> parseIpv6Address(const std::string& text) {
    in6_addr value{};
    if (text.size() > maxIpv6TextLength || text.find('\0') != std::string::npos ||
        inet_pton(AF_INET6, text.c_str(), &value) != 1)
        return std::nullopt;
    Endpoint::Bytes bytes{};
    std::memcpy(bytes.data(), &value, bytes.size());
    return bytes;
}

// Four decimal parts of at most three digits, none above 255 and none with a
// leading zero: what inet_pton takes, written out so that Winsock need not be
// started for it.
std::optional<std::uint32_t> parseIpv4Address(const std::string& text) {
    std::uint32_t address = 0;
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at >= text.size() || text[at] != '.')
                return std::nullopt;
            ++at;
        }
        const std::size_t start = at;
        unsigned value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 3)
            value = value * 10 + static_cast<unsigned>(text[at++] - '0');
        const std::size_t digits = at - start;
        if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0'))
            return std::nullopt;
        address = (address << 8) | value;
    }
    if (at != text.size())
        return std::nullopt;
    return address;
}

} // namespace sdk::os
