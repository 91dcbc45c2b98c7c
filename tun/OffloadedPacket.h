#pragma once

// What one read brings from a queue with offloads: a virtio-net header, then
// one packet whose checksum may still be open, or a TCP or UDP super-packet
// that the kernel left for us to cut into segments. The header is checked
// against the packet before anything is written: a header that does not fit
// (sizes, offsets, a kind we never asked for) drops that read only.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// Linux's struct virtio_net_hdr, in the host's byte order (the queue's
// default), as it comes before every packet read or written.
struct VnetHeader {
    std::uint8_t flags = 0;
    std::uint8_t gsoType = 0;
    std::uint16_t headerLength = 0;
    std::uint16_t segmentSize = 0;
    std::uint16_t checksumStart = 0;
    std::uint16_t checksumOffset = 0;

    static constexpr std::size_t size = 10;
    static constexpr std::uint8_t needsChecksum = 1;
    static constexpr std::uint8_t gsoNone = 0;
    static constexpr std::uint8_t gsoTcpV4 = 1;
    static constexpr std::uint8_t gsoUdpL4 = 5;

    static VnetHeader read(const std::uint8_t* bytes);
    void write(std::uint8_t* bytes) const;
};

class OffloadedPacket {
public:
    // The plan for one read (header and packet), or nothing when the header
    // does not fit the packet. It refers to the read's bytes: they must stay.
    static std::optional<OffloadedPacket> of(std::span<const std::uint8_t> read);

    std::size_t segmentCount() const { return count; }
    std::size_t segmentLength(std::size_t index) const;
    // Writes segment index (segmentLength bytes) with its own lengths,
    // sequence or identification, and complete checksums.
    void writeSegment(std::size_t index, std::uint8_t* out) const;

private:
    enum class Kind { single, tcp, udp };
    OffloadedPacket(std::span<const std::uint8_t> packet, Kind kind) : packet(packet), kind(kind) {}
    std::size_t payloadLength(std::size_t index) const;

    std::span<const std::uint8_t> packet;
    Kind kind;
    VnetHeader header;
    std::size_t ipHeaderLength = 0; // for super-packets
    std::size_t headersLength = 0;  // IPv4 and TCP or UDP headers, for super-packets
    std::size_t count = 1;
};

// The Internet checksum: a running sum of the bytes as they lie in memory
// (spans after the first must start at an even offset of the whole), and the
// checksum it gives, to be copied into the packet as it is.
std::uint64_t checksumAdd(std::uint64_t sum, std::span<const std::uint8_t> bytes);
std::uint16_t checksumOf(std::uint64_t sum);
