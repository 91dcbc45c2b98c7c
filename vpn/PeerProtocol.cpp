#include "vpn/PeerProtocol.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace peer {

namespace {

constexpr char addressPrefix[] = "ipv4 ";
constexpr std::size_t addressPrefixLength = sizeof addressPrefix - 1;

std::uint32_t addressAt(const std::uint8_t* packet, std::size_t offset) {
    std::uint32_t address;
    std::memcpy(&address, packet + offset, sizeof address);
    return address;
}

} // namespace

std::string addressMessage(const Ipv4Cidr& address) {
    return addressPrefix + address.toString();
}

std::optional<Ipv4Cidr> readAddressMessage(const std::uint8_t* data, std::size_t length) {
    if (length < addressPrefixLength || std::memcmp(data, addressPrefix, addressPrefixLength) != 0)
        return std::nullopt;
    const std::string text(reinterpret_cast<const char*>(data) + addressPrefixLength,
                           length - addressPrefixLength);
    try {
        const Ipv4Cidr address = Ipv4Cidr::parse(text.c_str());
        if (address == Ipv4Cidr{}) // not an address at all
            return std::nullopt;
        return address;
    } catch (const std::range_error&) {
        return std::nullopt;
    }
}

std::string peerIdText(std::uint64_t peerId) {
    return std::to_string(peerId);
}

std::optional<std::uint64_t> readPeerId(const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(begin, &end, 10);
    if (end == begin || errno == ERANGE)
        return std::nullopt;
    return value;
}

bool isIpv4Packet(const std::uint8_t* packet, std::size_t length) {
    return length >= 20 && (packet[0] >> 4) == 4;
}

std::uint32_t sourceAddress(const std::uint8_t* packet) {
    return addressAt(packet, 12);
}

std::uint32_t destinationAddress(const std::uint8_t* packet) {
    return addressAt(packet, 16);
}

} // namespace peer
