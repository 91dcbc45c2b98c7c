#include "adapter/Ipv4Cidr.h"

#include <bit>
#include <cstdio>
#include <stdexcept>

namespace {

constexpr std::uint32_t swapIfLittleEndian(std::uint32_t value) {
    if constexpr (std::endian::native == std::endian::little)
        return __builtin_bswap32(value);
    else
        return value;
}

std::uint32_t hostToNetwork(std::uint32_t value) {
    return swapIfLittleEndian(value);
}
std::uint32_t networkToHost(std::uint32_t value) {
    return swapIfLittleEndian(value);
}

} // namespace

Ipv4Cidr Ipv4Cidr::parse(const char* text) {
    unsigned a = 0, b = 0, c = 0, d = 0, n = 0;
    if (std::sscanf(text, "%u.%u.%u.%u/%u", &a, &b, &c, &d, &n) < 5)
        return {};
    if (a > 255 || b > 255 || c > 255 || d > 255 || n > 32)
        throw std::range_error("Invalid IP Address");
    return {hostToNetwork(a << 24 | b << 16 | c << 8 | d), static_cast<std::uint8_t>(n)};
}

std::string Ipv4Cidr::toString() const {
    const std::uint32_t h = networkToHost(address);
    char text[sizeof "255.255.255.255/255"];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u/%u", h >> 24, h >> 16 & 0xff, h >> 8 & 0xff,
                  h & 0xff, static_cast<unsigned>(prefix));
    return text;
}

std::uint32_t Ipv4Cidr::netmask() const {
    // In 64 bits, so that prefix 0 shifts every one out.
    const unsigned bits = prefix > 32 ? 32 : prefix;
    return hostToNetwork(static_cast<std::uint32_t>(0xffffffffull << (32 - bits)));
}

Ipv4Cidr Ipv4Cidr::offset(std::uint32_t n) const {
    const std::uint32_t h = networkToHost(address);
    const std::uint32_t m = networkToHost(netmask());
    const std::uint32_t moved = h + n;
    if ((moved & m) != (h & m))
        throw std::range_error("resultant CIDR out of range");
    return {hostToNetwork(moved), prefix};
}

std::optional<std::uint32_t> parseIpv4Address(std::string_view text) {
    std::uint32_t value = 0;
    unsigned octets = 0;
    unsigned octet = 0;
    bool inNumber = false;
    for (const char ch : text) {
        if (ch >= '0' && ch <= '9') {
            if (inNumber && octet == 0) // a leading zero
                return std::nullopt;
            octet = octet * 10 + static_cast<unsigned>(ch - '0');
            if (octet > 255)
                return std::nullopt;
            if (!inNumber && ++octets > 4)
                return std::nullopt;
            inNumber = true;
        } else if (ch == '.' && inNumber && octets < 4) {
            value = value << 8 | octet;
            octet = 0;
            inNumber = false;
        } else {
            return std::nullopt;
        }
    }
    if (octets < 4 || !inNumber)
        return std::nullopt;
    return hostToNetwork(value << 8 | octet);
}

std::string ipv4AddressText(std::uint32_t address) {
    const std::string withPrefix = Ipv4Cidr{address, 0}.toString();
    return withPrefix.substr(0, withPrefix.find('/'));
}
