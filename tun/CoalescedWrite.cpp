#include "tun/CoalescedWrite.h"

#include "tun/OffloadedPacket.h"

#include <cstring>

namespace {
constexpr std::size_t ipHeader = 20; // segments with IP options are written alone
constexpr std::size_t maxIpPacket = 0xFFFF;
constexpr std::uint8_t tcpPush = 0x08;
constexpr std::uint8_t tcpAck = 0x10;

std::uint16_t big16(const std::uint8_t* at) {
    return static_cast<std::uint16_t>(at[0] << 8 | at[1]);
}
std::uint32_t big32(const std::uint8_t* at) {
    return std::uint32_t{big16(at)} << 16 | big16(at + 2);
}
void putBig16(std::uint8_t* at, std::size_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}

std::uint64_t pseudoHeaderSum(const std::uint8_t* ip, std::size_t tcpLength) {
    std::uint8_t pseudo[12];
    std::memcpy(pseudo, ip + 12, 8);
    pseudo[8] = 0;
    pseudo[9] = ip[9];
    putBig16(pseudo + 10, tcpLength);
    return checksumAdd(0, pseudo);
}

// An unfragmented IPv4 TCP segment without IP options, with data, only ACK
// and maybe PSH set, whose lengths and checksums hold: its TCP header length.
std::size_t tcpHeaderOf(std::span<const std::uint8_t> packet) {
    const std::uint8_t* ip = packet.data();
    if (packet.size() < ipHeader + 20 || ip[0] != 0x45 || ip[9] != 6 ||
        big16(ip + 2) != packet.size() || (big16(ip + 6) & 0x3FFF) != 0)
        return 0;
    const std::uint8_t* tcp = ip + ipHeader;
    const std::size_t tcpLength = (tcp[12] >> 4) * 4u;
    if (tcpLength < 20 || ipHeader + tcpLength >= packet.size() || (tcp[13] & ~tcpPush) != tcpAck)
        return 0;
    // A folded sum of all ones: the checksum holds.
    if (checksumOf(checksumAdd(0, packet.first(ipHeader))) != 0xFFFF)
        return 0;
    const std::uint64_t sum =
        checksumAdd(pseudoHeaderSum(ip, packet.size() - ipHeader), packet.subspan(ipHeader));
    return checksumOf(sum) == 0xFFFF ? tcpLength : 0;
}
} // namespace

bool CoalescedWrite::mayStartRun(const std::uint8_t* packet, std::size_t size) {
    if (size < ipHeader + 20 || packet[0] != 0x45 || packet[9] != 6)
        return false;
    return size > ipHeader + (packet[ipHeader + 12] >> 4) * 4u;
}

CoalescedWrite::CoalescedWrite() : bytes(VnetHeader::size + maxIpPacket) {}

bool CoalescedWrite::joins(std::span<const std::uint8_t> packet) const {
    if (!joinable || lastPayload != payloadSize)
        return false;
    const std::uint8_t* first = bytes.data() + VnetHeader::size;
    const std::uint8_t* tcp = first + ipHeader;
    const std::size_t headers = ipHeader + (tcp[12] >> 4) * 4u;
    // The first's PSH closes the burst too.
    if ((tcp[13] & tcpPush) || packet.size() <= headers || packet.size() - headers > payloadSize ||
        length + packet.size() - headers > maxIpPacket)
        return false;
    const std::uint8_t* next = packet.data();
    // Everything but length, identification and checksum (IP), sequence,
    // flags' PSH and checksum (TCP) as the first has it.
    if (std::memcmp(first, next, 2) != 0 || std::memcmp(first + 6, next + 6, 4) != 0 ||
        std::memcmp(first + 12, next + 12, 8) != 0 || std::memcmp(tcp, next + ipHeader, 4) != 0 ||
        std::memcmp(tcp + 8, next + ipHeader + 8, 5) != 0 ||
        std::memcmp(tcp + 14, next + ipHeader + 14, 2) != 0 ||
        std::memcmp(tcp + 18, next + ipHeader + 18, headers - ipHeader - 18) != 0)
        return false;
    return big32(next + ipHeader + 4) == nextSequence && tcpHeaderOf(packet) != 0;
}

bool CoalescedWrite::add(std::span<const std::uint8_t> packet) {
    if (packet.empty() || packet.size() > maxIpPacket)
        return segments == 0; // nothing to hold: written as it is or dropped
    std::uint8_t* held = bytes.data() + VnetHeader::size;
    if (segments == 0) {
        std::memcpy(held, packet.data(), packet.size());
        length = packet.size();
        segments = 1;
        const std::size_t tcpLength = tcpHeaderOf(packet);
        joinable = tcpLength != 0;
        if (joinable) {
            payloadSize = lastPayload = packet.size() - ipHeader - tcpLength;
            nextSequence = big32(held + ipHeader + 4) + static_cast<std::uint32_t>(payloadSize);
        }
        return true;
    }
    if (!joins(packet))
        return false;
    const std::size_t headers = ipHeader + (held[ipHeader + 12] >> 4) * 4u;
    lastPayload = packet.size() - headers;
    std::memcpy(held + length, packet.data() + headers, lastPayload);
    length += lastPayload;
    // The last one's PSH is the burst's.
    held[ipHeader + 13] |= packet[ipHeader + 13] & tcpPush;
    nextSequence += static_cast<std::uint32_t>(lastPayload);
    ++segments;
    return true;
}

std::span<const std::uint8_t> CoalescedWrite::take() {
    VnetHeader header;
    std::uint8_t* held = bytes.data() + VnetHeader::size;
    if (segments > 1) {
        const std::size_t tcpLength = (held[ipHeader + 12] >> 4) * 4u;
        header.flags = VnetHeader::needsChecksum;
        header.gsoType = VnetHeader::gsoTcpV4;
        header.headerLength = static_cast<std::uint16_t>(ipHeader + tcpLength);
        header.segmentSize = static_cast<std::uint16_t>(payloadSize);
        header.checksumStart = ipHeader;
        header.checksumOffset = 16;
        putBig16(held + 2, length);
        std::memset(held + 10, 0, 2);
        const std::uint16_t ipChecksum = checksumOf(checksumAdd(0, std::span(held, ipHeader)));
        std::memcpy(held + 10, &ipChecksum, 2);
        // The kernel completes the TCP checksum from the pseudo-header's sum,
        // as for a burst of its own: every segment's was checked above.
        std::uint64_t sum = pseudoHeaderSum(held, length - ipHeader);
        while (sum >> 16)
            sum = (sum & 0xFFFF) + (sum >> 16);
        const auto partial = static_cast<std::uint16_t>(sum);
        std::memcpy(held + ipHeader + 16, &partial, 2);
    }
    header.write(bytes.data());
    const auto write = std::span(bytes).first(VnetHeader::size + length);
    segments = 0;
    length = 0;
    return write;
}
