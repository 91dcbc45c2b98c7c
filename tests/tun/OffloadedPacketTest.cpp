// Cutting what an offloaded queue reads into packets: every segment's lengths,
// sequence, identification, flags and payload, and its checksums verified by
// a plain byte-by-byte sum written here; headers that do not fit are refused.

#include "tun/OffloadedPacket.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint16_t big16(const std::uint8_t* at) {
    return static_cast<std::uint16_t>(at[0] << 8 | at[1]);
}
void putBig16(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}
std::uint32_t big32(const std::uint8_t* at) {
    return std::uint32_t{big16(at)} << 16 | big16(at + 2);
}

// RFC 1071 the slow way: big-endian 16-bit words, an odd byte padded.
std::uint32_t plainSum(const std::uint8_t* bytes, std::size_t length, std::uint32_t sum = 0) {
    for (std::size_t i = 0; i < length; i += 2)
        sum += static_cast<std::uint32_t>(bytes[i] << 8 | (i + 1 < length ? bytes[i + 1] : 0));
    return sum;
}
std::uint16_t folded(std::uint32_t sum) {
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(sum);
}
bool ipChecksumHolds(const std::uint8_t* ip) {
    return folded(plainSum(ip, (ip[0] & 15u) * 4u)) == 0xFFFF;
}
std::uint32_t pseudoSum(const std::uint8_t* ip, std::size_t transportLength) {
    return plainSum(ip + 12, 8) + ip[9] + static_cast<std::uint32_t>(transportLength);
}
bool transportChecksumHolds(const std::uint8_t* ip, std::size_t total) {
    const std::size_t ipLength = (ip[0] & 15u) * 4u;
    const std::size_t length = total - ipLength;
    return folded(plainSum(ip + ipLength, length, pseudoSum(ip, length))) == 0xFFFF;
}

struct PacketShape {
    std::size_t ipOptions = 0;  // bytes, a multiple of 4
    std::size_t tcpOptions = 0; // bytes, a multiple of 4; UDP when tcp is false
    bool tcp = true;
    std::size_t payload = 0;
    std::uint8_t tcpFlags = 0x18; // ACK and PSH
};

// A super-packet as the kernel hands it: lengths of the whole, the
// transport checksum holding the pseudo-header's sum only.
Bytes superPacket(const PacketShape& shape) {
    const std::size_t ipLength = 20 + shape.ipOptions;
    const std::size_t transportLength = shape.tcp ? 20 + shape.tcpOptions : 8;
    Bytes packet(ipLength + transportLength + shape.payload);
    std::uint8_t* ip = packet.data();
    ip[0] = static_cast<std::uint8_t>(0x40 | ipLength / 4);
    putBig16(ip + 2, static_cast<std::uint32_t>(packet.size()));
    putBig16(ip + 4, 0xFFFE); // the identification wraps inside the burst
    ip[6] = 0x40;             // don't fragment
    ip[8] = 64;
    ip[9] = shape.tcp ? 6 : 17;
    const std::uint8_t addresses[8] = {10, 7, 0, 1, 10, 7, 0, 2};
    std::memcpy(ip + 12, addresses, 8);
    for (std::size_t i = 20; i < ipLength; ++i)
        ip[i] = 1; // IP "no operation" options
    std::uint8_t* transport = ip + ipLength;
    putBig16(transport, 40000);
    putBig16(transport + 2, 5201);
    if (shape.tcp) {
        putBig16(transport + 4, 0xFFFF); // the sequence wraps too
        putBig16(transport + 6, 0xF000);
        transport[12] = static_cast<std::uint8_t>(transportLength / 4 << 4);
        transport[13] = shape.tcpFlags;
        putBig16(transport + 14, 502);
        for (std::size_t i = 20; i < transportLength; ++i)
            transport[i] = static_cast<std::uint8_t>(i == 20 || i == 21 ? 1 : 0x30 + i);
    } else {
        putBig16(transport + 4, static_cast<std::uint32_t>(transportLength + shape.payload));
    }
    for (std::size_t i = 0; i < shape.payload; ++i)
        transport[transportLength + i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    std::uint8_t* checksum = transport + (shape.tcp ? 16 : 6);
    putBig16(checksum, folded(pseudoSum(ip, packet.size() - ipLength)));
    return packet;
}

Bytes withHeader(const VnetHeader& header, const Bytes& packet) {
    Bytes read(VnetHeader::size);
    header.write(read.data());
    read.insert(read.end(), packet.begin(), packet.end());
    return read;
}

VnetHeader segmentation(const PacketShape& shape, std::uint16_t segmentSize) {
    VnetHeader header;
    header.flags = VnetHeader::needsChecksum;
    header.gsoType = shape.tcp ? VnetHeader::gsoTcpV4 : VnetHeader::gsoUdpL4;
    const auto ipLength = static_cast<std::uint16_t>(20 + shape.ipOptions);
    header.headerLength =
        static_cast<std::uint16_t>(ipLength + (shape.tcp ? 20 + shape.tcpOptions : 8));
    header.segmentSize = segmentSize;
    header.checksumStart = ipLength;
    header.checksumOffset = shape.tcp ? 16 : 6;
    return header;
}

struct SplitCase {
    const char* name;
    PacketShape shape;
    std::uint16_t segmentSize;
    std::vector<std::size_t> payloads; // each segment's
};

class SplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, EverySegmentIsAPacketOfItsOwn) {
    const SplitCase& split = GetParam();
    const Bytes original = superPacket(split.shape);
    const Bytes read = withHeader(segmentation(split.shape, split.segmentSize), original);
    const auto plan = OffloadedPacket::of(read);
    ASSERT_TRUE(plan);
    ASSERT_EQ(plan->segmentCount(), split.payloads.size());

    const std::size_t ipLength = 20 + split.shape.ipOptions;
    const std::size_t headers = ipLength + (split.shape.tcp ? 20 + split.shape.tcpOptions : 8);
    std::size_t offset = 0;
    for (std::size_t i = 0; i < split.payloads.size(); ++i) {
        SCOPED_TRACE("segment " + std::to_string(i));
        const std::size_t length = headers + split.payloads[i];
        ASSERT_EQ(plan->segmentLength(i), length);
        Bytes segment(length + 8, 0xEE); // the bytes after it stay untouched
        plan->writeSegment(i, segment.data());
        EXPECT_EQ(segment[length], 0xEE);
        const std::uint8_t* ip = segment.data();
        EXPECT_EQ(big16(ip + 2), length);
        EXPECT_EQ(big16(ip + 4), static_cast<std::uint16_t>(0xFFFE + i));
        EXPECT_TRUE(ipChecksumHolds(ip));
        EXPECT_TRUE(transportChecksumHolds(ip, length));
        // Everything but lengths, identification, checksums, sequence and flags as sent.
        EXPECT_EQ(0, std::memcmp(ip + 6, original.data() + 6, 4));
        EXPECT_EQ(0, std::memcmp(ip + 12, original.data() + 12, ipLength - 12));
        const std::uint8_t* transport = ip + ipLength;
        const std::uint8_t* sent = original.data() + ipLength;
        if (split.shape.tcp) {
            EXPECT_EQ(big32(transport + 4), static_cast<std::uint32_t>(big32(sent + 4) + offset));
            std::uint8_t flags = sent[13];
            if (i + 1 != split.payloads.size())
                flags &= static_cast<std::uint8_t>(~0x09); // FIN and PSH: the last only
            if (i != 0)
                flags &= static_cast<std::uint8_t>(~0x80); // CWR: the first only
            EXPECT_EQ(transport[13], flags);
            EXPECT_EQ(0, std::memcmp(transport + 20, sent + 20, split.shape.tcpOptions));
        } else {
            EXPECT_EQ(big16(transport + 4), 8 + split.payloads[i]);
        }
        EXPECT_EQ(0,
                  std::memcmp(ip + headers, original.data() + headers + offset, split.payloads[i]));
        offset += split.payloads[i];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitTest,
    ::testing::Values(
        SplitCase{"TcpEvenSegments", {0, 0, true, 4000}, 1000, {1000, 1000, 1000, 1000}},
        SplitCase{"TcpWithOptions", {0, 12, true, 2720}, 1360, {1360, 1360}},
        SplitCase{"LastSegmentShort", {0, 12, true, 2501}, 1000, {1000, 1000, 501}},
        SplitCase{"IpOptions", {8, 0, true, 3000}, 1400, {1400, 1400, 200}},
        // FIN, PSH and CWR each belong to one end of the burst.
        SplitCase{"TcpEndFlags", {0, 0, true, 2500}, 1000, {1000, 1000, 500}},
        SplitCase{"LargestBurst",
                  {0, 12, true, 65535 - 52},
                  1448,
                  [] {
                      std::vector<std::size_t> sizes(45, 1448);
                      sizes.push_back(65535 - 52 - 45 * 1448);
                      return sizes;
                  }()},
        SplitCase{"Udp", {0, 0, false, 2500}, 1200, {1200, 1200, 100}},
        SplitCase{"UdpOddLengths", {4, 0, false, 1001}, 333, {333, 333, 333, 2}},
        SplitCase{"OneSegment", {0, 0, true, 700}, 1400, {700}}),
    [](const auto& info) { return std::string(info.param.name); });

// The flags case above needs them set in the packet sent.
TEST(Split, FinPushAndCwrGoToTheirEnds) {
    PacketShape shape{0, 0, true, 2500, 0x80 | 0x10 | 0x08 | 0x01};
    const Bytes read = withHeader(segmentation(shape, 1000), superPacket(shape));
    const auto plan = OffloadedPacket::of(read);
    ASSERT_TRUE(plan);
    std::vector<std::uint8_t> flags;
    for (std::size_t i = 0; i < plan->segmentCount(); ++i) {
        Bytes segment(plan->segmentLength(i));
        plan->writeSegment(i, segment.data());
        flags.push_back(segment[20 + 13]);
    }
    EXPECT_EQ(flags, (std::vector<std::uint8_t>{0x90, 0x10, 0x19}));
}

// One packet whose checksum the kernel left open: completed, nothing else changed.
TEST(Single, OpenChecksumIsCompleted) {
    for (const bool tcp : {true, false}) {
        for (const std::size_t payload : {0u, 1u, 999u, 1372u}) {
            SCOPED_TRACE((tcp ? "tcp " : "udp ") + std::to_string(payload));
            const PacketShape shape{0, tcp ? 12u : 0u, tcp, payload};
            const Bytes packet = superPacket(shape);
            VnetHeader header = segmentation(shape, 0);
            header.gsoType = VnetHeader::gsoNone;
            const Bytes read = withHeader(header, packet);
            const auto plan = OffloadedPacket::of(read);
            ASSERT_TRUE(plan);
            ASSERT_EQ(plan->segmentCount(), 1u);
            ASSERT_EQ(plan->segmentLength(0), packet.size());
            Bytes out(packet.size());
            plan->writeSegment(0, out.data());
            EXPECT_TRUE(transportChecksumHolds(out.data(), out.size()));
            const std::size_t field = 20 + (tcp ? 16 : 6);
            EXPECT_EQ(0, std::memcmp(out.data(), packet.data(), field));
            EXPECT_EQ(0, std::memcmp(out.data() + field + 2, packet.data() + field + 2,
                                     packet.size() - field - 2));
        }
    }
}

TEST(Single, PacketWithoutFlagsPassesAsItIs) {
    const Bytes packet = superPacket({0, 0, false, 100});
    const Bytes read = withHeader(VnetHeader{}, packet);
    const auto plan = OffloadedPacket::of(read);
    ASSERT_TRUE(plan);
    Bytes out(plan->segmentLength(0));
    plan->writeSegment(0, out.data());
    EXPECT_EQ(out, packet);
}

struct RefusalCase {
    const char* name;
    void (*spoil)(VnetHeader& header, Bytes& packet);
};

class RefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusalTest, HeaderThatDoesNotFitDropsTheRead) {
    const PacketShape shape{0, 12, true, 3000};
    Bytes packet = superPacket(shape);
    VnetHeader header = segmentation(shape, 1000);
    ASSERT_TRUE(OffloadedPacket::of(withHeader(header, packet))) << "the unspoiled read";
    GetParam().spoil(header, packet);
    EXPECT_FALSE(OffloadedPacket::of(withHeader(header, packet)));
}

INSTANTIATE_TEST_SUITE_P(Cases, RefusalTest,
                         ::
                             testing::
                                 Values(RefusalCase{"SegmentSizeZero",
                                                    [](VnetHeader& h, Bytes&) {
                                                        h.segmentSize = 0;
                                                    }},
                                        RefusalCase{"SegmentBeyondAnIpPacket",
                                                    [](VnetHeader& h, Bytes&) {
                                                        h.segmentSize = 65535 - 40;
                                                    }},
                                        RefusalCase{"HeaderLengthBeyondPacket",
                                                    [](VnetHeader& h, Bytes& p) {
                                                        h.headerLength = static_cast<std::uint16_t>(
                                                            p.size() + 1);
                                                    }},
                                        RefusalCase{"ChecksumStartBeyondPacket",
                                                    [](VnetHeader& h, Bytes& p) {
                                                        h.checksumStart =
                                                            static_cast<std::uint16_t>(p.size());
                                                    }},
                                        RefusalCase{"ChecksumOffsetBeyondPacket",
                                                    [](VnetHeader& h, Bytes& p) {
                                                        h.checksumOffset =
                                                            static_cast<std::uint16_t>(p.size() -
                                                                                       20 - 1);
                                                    }},
                                        RefusalCase{"SegmentationNeverAskedFor",
                                                    [](VnetHeader& h, Bytes&) {
                                                        h.gsoType = 4; /* TCP over IPv6 */
                                                    }},
                                        RefusalCase{"IpFragmentation",
                                                    [](VnetHeader& h, Bytes&) { h.gsoType = 3; }},
                                        RefusalCase{
                                            "EcnNeverAskedFor",
                                            [](VnetHeader& h, Bytes&) { h.gsoType |= 0x80; }},
                                        RefusalCase{"NotIpv4",
                                                    [](VnetHeader&, Bytes& p) { p[0] = 0x60; }},
                                        RefusalCase{"IpHeaderTooShort",
                                                    [](VnetHeader&, Bytes& p) { p[0] = 0x44; }},
                                        RefusalCase{"IpHeaderBeyondPacket",
                                                    [](VnetHeader& h, Bytes& p) {
                                                        p[0] = 0x4F;
                                                        p.resize(50);
                                                        h.headerLength = 20;
                                                    }},
                                        RefusalCase{"FragmentOfAPacket",
                                                    [](VnetHeader&, Bytes& p) { p[6] = 0x20; }},
                                        RefusalCase{"UdpUnderTcpSegmentation",
                                                    [](VnetHeader&, Bytes& p) { p[9] = 17; }},
                                        RefusalCase{"TcpUnderUdpSegmentation",
                                                    [](VnetHeader& h, Bytes&) {
                                                        h.gsoType = VnetHeader::gsoUdpL4;
                                                    }},
                                        RefusalCase{"TcpHeaderTooShort",
                                                    [](VnetHeader&, Bytes& p) { p[20 + 12] = 0x40; }},
                                        RefusalCase{"TcpHeaderBeyondPacket",
                                                    [](VnetHeader&, Bytes& p) {
                                                        p[20 + 12] = 0xF0;
                                                        p.resize(20 + 40);
                                                    }},
                                        RefusalCase{
                                            "HeadersWithoutPayload",
                                            [](VnetHeader&, Bytes& p) { p.resize(20 + 32); }},
                                        RefusalCase{"NoPacketAtAll",
                                                    [](VnetHeader&, Bytes& p) { p.clear(); }},
                                        RefusalCase{
                                            "LongerThanAnIpPacket",
                                            [](VnetHeader&, Bytes& p) { p.resize(65536, 0); }}),
                         [](const auto& info) { return std::string(info.param.name); });

// The header's fields lie in the host's byte order, as the queue has them.
TEST(VnetHeaderLayout, FieldsAtTheirOffsets) {
    const VnetHeader header{1, 5, 0x0102, 0x0304, 0x0506, 0x0708};
    std::uint8_t bytes[VnetHeader::size];
    header.write(bytes);
    std::uint16_t segmentSize = 0;
    std::memcpy(&segmentSize, bytes + 4, 2);
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[1], 5);
    EXPECT_EQ(segmentSize, 0x0304);
    const VnetHeader back = VnetHeader::read(bytes);
    EXPECT_EQ(back.headerLength, 0x0102);
    EXPECT_EQ(back.checksumStart, 0x0506);
    EXPECT_EQ(back.checksumOffset, 0x0708);
}

} // namespace
