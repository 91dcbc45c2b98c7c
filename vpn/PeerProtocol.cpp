#include "vpn/PeerProtocol.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string_view>

namespace peer {

namespace {

constexpr char addressPrefix[] = "ipv4 ";
constexpr std::size_t addressPrefixLength = sizeof addressPrefix - 1;
constexpr char ownerPrefix[] = "owner ";
constexpr std::size_t ownerPrefixLength = sizeof ownerPrefix - 1;
constexpr std::size_t minimumHeaderLength = 20;

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

bool isAssignable(const Ipv4Cidr& address) {
    if (address.prefix == 0 || address.prefix > 30)
        return false;
    const std::uint32_t mask = address.netmask();
    return (address.address & ~mask) != 0 && (address.address | mask) != 0xffffffffu;
}

std::string ownerMessage(const Assignment& assignment) {
    return ownerPrefix + ipv4AddressText(assignment.address) + " " + peerIdText(assignment.peerId);
}

std::optional<Assignment> readOwnerMessage(const std::uint8_t* data, std::size_t length) {
    const std::string_view text(reinterpret_cast<const char*>(data), length);
    if (!text.starts_with(ownerPrefix))
        return std::nullopt;
    const std::string_view rest = text.substr(ownerPrefixLength);
    const std::size_t space = rest.find(' ');
    if (space == std::string_view::npos)
        return std::nullopt;
    const std::string peerText(rest.substr(space + 1));
    const std::optional<std::uint32_t> address = parseIpv4Address(rest.substr(0, space));
    if (!address)
        return std::nullopt;
    Assignment assignment;
    assignment.address = *address;
    if (peerText.empty() || peerText.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const std::optional<std::uint64_t> peerId = readPeerId(peerText);
    if (!peerId)
        return std::nullopt;
    assignment.peerId = *peerId;
    return assignment;
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

std::optional<std::size_t> ipv4PacketLength(const std::uint8_t* packet, std::size_t length) {
    if (length < minimumHeaderLength || (packet[0] >> 4) != 4)
        return std::nullopt;
    const std::size_t headerLength = std::size_t{packet[0] & 0x0fu} * 4;
    const std::size_t totalLength = std::size_t{packet[2]} << 8 | packet[3];
    if (headerLength < minimumHeaderLength || headerLength > length || totalLength < headerLength ||
        totalLength > length)
        return std::nullopt;
    return totalLength;
}

std::uint32_t sourceAddress(const std::uint8_t* packet) {
    return addressAt(packet, 12);
}

std::uint32_t destinationAddress(const std::uint8_t* packet) {
    return addressAt(packet, 16);
}

} // namespace peer
