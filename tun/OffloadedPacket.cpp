#include "tun/OffloadedPacket.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr std::uint8_t tcpProtocol = 6;
constexpr std::uint8_t udpProtocol = 17;
constexpr std::size_t maxIpPacket = 0xFFFF;
constexpr std::uint8_t tcpFin = 0x01;
constexpr std::uint8_t tcpPush = 0x08;
constexpr std::uint8_t tcpCwr = 0x80;

template <typename T> T loadNative(const std::uint8_t* bytes) {
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

std::uint16_t loadBig16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}
void storeBig16(std::uint8_t* bytes, std::uint16_t value) {
    bytes[0] = static_cast<std::uint8_t>(value >> 8);
    bytes[1] = static_cast<std::uint8_t>(value);
}
std::uint32_t loadBig32(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
           std::uint32_t{bytes[2]} << 8 | bytes[3];
}
void storeBig32(std::uint8_t* bytes, std::uint32_t value) {
    storeBig16(bytes, static_cast<std::uint16_t>(value >> 16));
    storeBig16(bytes + 2, static_cast<std::uint16_t>(value));
}

void storeChecksum(std::uint8_t* at, std::uint16_t checksum) {
    std::memcpy(at, &checksum, sizeof checksum);
}

// The pseudo-header of a TCP or UDP segment of this IPv4 packet.
std::uint64_t pseudoHeaderSum(const std::uint8_t* ip, std::uint8_t protocol,
                              std::size_t transportLength) {
    std::uint8_t pseudo[12];
    std::memcpy(pseudo, ip + 12, 8);
    pseudo[8] = 0;
    pseudo[9] = protocol;
    storeBig16(pseudo + 10, static_cast<std::uint16_t>(transportLength));
    return checksumAdd(0, pseudo);
}
} // namespace

std::uint64_t checksumAdd(std::uint64_t sum, std::span<const std::uint8_t> bytes) {
    const std::uint8_t* at = bytes.data();
    std::size_t left = bytes.size();
    for (; left >= 4; at += 4, left -= 4)
        sum += loadNative<std::uint32_t>(at);
    if (left >= 2) {
        sum += loadNative<std::uint16_t>(at);
        at += 2;
        left -= 2;
    }
    if (left == 1) {
        std::uint16_t last = 0;
        std::memcpy(&last, at, 1); // the byte where it lies, the other zero
        sum += last;
    }
    return sum;
}

// Zero and all ones are the same sum; all ones also means "computed" to UDP.
std::uint16_t checksumOf(std::uint64_t sum) {
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    const auto checksum = static_cast<std::uint16_t>(~sum);
    return checksum == 0 ? 0xFFFF : checksum;
}

VnetHeader VnetHeader::read(const std::uint8_t* bytes) {
    VnetHeader header;
    header.flags = bytes[0];
    header.gsoType = bytes[1];
    header.headerLength = loadNative<std::uint16_t>(bytes + 2);
    header.segmentSize = loadNative<std::uint16_t>(bytes + 4);
    header.checksumStart = loadNative<std::uint16_t>(bytes + 6);
    header.checksumOffset = loadNative<std::uint16_t>(bytes + 8);
    return header;
}

void VnetHeader::write(std::uint8_t* bytes) const {
    bytes[0] = flags;
    bytes[1] = gsoType;
    std::memcpy(bytes + 2, &headerLength, 2);
    std::memcpy(bytes + 4, &segmentSize, 2);
    std::memcpy(bytes + 6, &checksumStart, 2);
    std::memcpy(bytes + 8, &checksumOffset, 2);
}

std::optional<OffloadedPacket> OffloadedPacket::of(std::span<const std::uint8_t> read) {
    if (read.size() <= VnetHeader::size)
        return std::nullopt;
    const VnetHeader header = VnetHeader::read(read.data());
    const auto packet = read.subspan(VnetHeader::size);
    const std::size_t length = packet.size();
    if (length > maxIpPacket || header.headerLength > length)
        return std::nullopt;
    if ((header.flags & VnetHeader::needsChecksum) &&
        std::size_t{header.checksumStart} + header.checksumOffset + 2 > length)
        return std::nullopt;
    if (header.gsoType == VnetHeader::gsoNone) {
        OffloadedPacket single(packet, Kind::single);
        single.header = header;
        return single;
    }
    // Super-packets: only the kinds asked for (no ECN, no IPv6, no IP
    // fragmentation), IPv4 unfragmented, both headers inside the packet.
    if (header.gsoType != VnetHeader::gsoTcpV4 && header.gsoType != VnetHeader::gsoUdpL4)
        return std::nullopt;
    const Kind kind = header.gsoType == VnetHeader::gsoTcpV4 ? Kind::tcp : Kind::udp;
    if (length < 20 || packet[0] >> 4 != 4)
        return std::nullopt;
    const std::size_t ipLength = (packet[0] & 0x0Fu) * 4u;
    const bool fragment = (loadBig16(&packet[6]) & 0x3FFF) != 0;
    if (ipLength < 20 || fragment || packet[9] != (kind == Kind::tcp ? tcpProtocol : udpProtocol))
        return std::nullopt;
    std::size_t transportLength = 8;
    if (kind == Kind::tcp) {
        if (ipLength + 20 > length)
            return std::nullopt;
        transportLength = (packet[ipLength + 12] >> 4) * 4u;
        if (transportLength < 20)
            return std::nullopt;
    }
    const std::size_t headers = ipLength + transportLength;
    if (headers >= length || header.segmentSize == 0 || headers + header.segmentSize > maxIpPacket)
        return std::nullopt;
    OffloadedPacket super(packet, kind);
    super.header = header;
    super.ipHeaderLength = ipLength;
    super.headersLength = headers;
    super.count = (length - headers + header.segmentSize - 1) / header.segmentSize;
    return super;
}

std::size_t OffloadedPacket::payloadLength(std::size_t index) const {
    const std::size_t payload = packet.size() - headersLength;
    return std::min<std::size_t>(header.segmentSize, payload - index * header.segmentSize);
}

std::size_t OffloadedPacket::segmentLength(std::size_t index) const {
    return kind == Kind::single ? packet.size() : headersLength + payloadLength(index);
}

void OffloadedPacket::writeSegment(std::size_t index, std::uint8_t* out) const {
    if (kind == Kind::single) {
        std::memcpy(out, packet.data(), packet.size());
        // The kernel left the pseudo-header's sum in the field: the sum from
        // the start it named to the end completes it.
        if (header.flags & VnetHeader::needsChecksum)
            storeChecksum(out + header.checksumStart + header.checksumOffset,
                          checksumOf(checksumAdd(
                              0, std::span(out, packet.size()).subspan(header.checksumStart))));
        return;
    }
    const std::size_t payload = payloadLength(index);
    const std::size_t total = headersLength + payload;
    std::memcpy(out, packet.data(), headersLength);
    std::memcpy(out + headersLength, packet.data() + headersLength + index * header.segmentSize,
                payload);

    storeBig16(out + 2, static_cast<std::uint16_t>(total));
    storeBig16(out + 4, static_cast<std::uint16_t>(loadBig16(out + 4) + index));
    storeChecksum(out + 10, 0);
    storeChecksum(out + 10, checksumOf(checksumAdd(0, std::span(out, ipHeaderLength))));

    std::uint8_t* transport = out + ipHeaderLength;
    const std::size_t transportTotal = total - ipHeaderLength;
    std::uint8_t* checksumField = nullptr;
    std::uint8_t protocol = 0;
    if (kind == Kind::tcp) {
        protocol = tcpProtocol;
        storeBig32(transport + 4, loadBig32(transport + 4) +
                                      static_cast<std::uint32_t>(index * header.segmentSize));
        if (index + 1 != count)
            transport[13] &= static_cast<std::uint8_t>(~(tcpFin | tcpPush));
        if (index != 0)
            transport[13] &= static_cast<std::uint8_t>(~tcpCwr);
        checksumField = transport + 16;
    } else {
        protocol = udpProtocol;
        storeBig16(transport + 4, static_cast<std::uint16_t>(transportTotal));
        checksumField = transport + 6;
    }
    storeChecksum(checksumField, 0);
    const std::uint64_t sum = pseudoHeaderSum(out, protocol, transportTotal);
    storeChecksum(checksumField,
                  checksumOf(checksumAdd(sum, std::span(transport, transportTotal))));
}
