#pragma once

// An IPv4 or IPv6 address and UDP port, and the text of an address.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace sdk::os {

// One address of either family, kept as 16 bytes: an IPv4 address as its
// IPv4-mapped IPv6 form (::ffff:a.b.c.d), so there is one spelling of each
// address and no family tag that could disagree with the bytes.
class Endpoint {
public:
    using Bytes = std::array<std::uint8_t, 16>;

    Endpoint() = default;
    // An IPv4 address in host byte order.
    Endpoint(std::uint32_t ipv4, std::uint16_t port) : port(port) {
        for (int i = 0; i < 4; ++i)
            address[static_cast<std::size_t>(12 + i)] =
                static_cast<std::uint8_t>(ipv4 >> (24 - 8 * i));
    }
    // An IPv6 address in network byte order (IPv4-mapped bytes give IPv4).
    static Endpoint fromBytes(const Bytes& address, std::uint16_t port) {
        Endpoint endpoint;
        endpoint.address = address;
        endpoint.port = port;
        return endpoint;
    }

    bool isIpv4() const {
        const Bytes prefix = mappedPrefix();
        for (std::size_t i = 0; i < 12; ++i)
            if (address[i] != prefix[i])
                return false;
        return true;
    }
    // The IPv4 address in host byte order; 0 for an IPv6 endpoint.
    std::uint32_t ipv4() const {
        if (!isIpv4())
            return 0;
        return std::uint32_t{address[12]} << 24 | std::uint32_t{address[13]} << 16 |
               std::uint32_t{address[14]} << 8 | address[15];
    }
    const Bytes& bytes() const { return address; }
    // 0.0.0.0 or ::, the value of an endpoint nobody set.
    bool unspecifiedAddress() const { return isIpv4() ? ipv4() == 0 : address == Bytes{}; }

    std::uint16_t port = 0;

    bool operator==(const Endpoint&) const = default;
    // "a.b.c.d:port" or "[v6]:port" (the shortest IPv6 text, lower case).
    std::string toString() const;

private:
    static constexpr Bytes mappedPrefix() {
        Bytes prefix{};
        prefix[10] = 0xff;
        prefix[11] = 0xff;
        return prefix;
    }
    Bytes address = mappedPrefix();
};

// The longest dotted address, "255.255.255.255".
inline constexpr std::size_t maxIpv4TextLength = 15;
// The longest IPv6 text, with an embedded IPv4 tail.
inline constexpr std::size_t maxIpv6TextLength = 45;

// The address of dotted text (four decimal parts), nothing for anything else.
std::optional<std::uint32_t> parseIpv4Address(const std::string& text);
// The bytes of IPv6 text (no brackets, no zone), nothing for anything else.
std::optional<Endpoint::Bytes> parseIpv6Address(const std::string& text);

} // namespace sdk::os
