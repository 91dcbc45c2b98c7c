// Joining the caller's packets into writes: one TCP flow's consecutive
// segments become one super-packet that the kernel's own cutting (here the
// library's, OffloadedPacket) turns back into the very segments; anything
// the kernel would have judged differently is written alone.

#include "tun/CoalescedWrite.h"
#include "tun/OffloadedPacket.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void putBig16(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}
void putBig32(std::uint8_t* at, std::uint32_t value) {
    putBig16(at, value >> 16);
    putBig16(at + 2, value & 0xFFFF);
}

// RFC 1071, independent of the library's sums.
std::uint16_t plainChecksum(const std::uint8_t* bytes, std::size_t length, std::uint32_t sum = 0) {
    for (std::size_t i = 0; i < length; i += 2)
        sum += static_cast<std::uint32_t>(bytes[i] << 8 | (i + 1 < length ? bytes[i + 1] : 0));
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

struct Segment {
    std::uint32_t sequence = 1000;
    std::size_t payload = 1000;
    std::uint8_t flags = 0x10; // ACK
    std::uint16_t identification = 7;
    std::uint16_t sourcePort = 40000;
    std::uint32_t acknowledgement = 555;
    std::uint8_t timestamp = 1; // in the TCP options
};

// A segment as a peer's kernel sent it: correct lengths and checksums.
Bytes segmentOf(const Segment& s) {
    constexpr std::size_t tcpLength = 32; // with a timestamp option
    Bytes packet(20 + tcpLength + s.payload);
    std::uint8_t* ip = packet.data();
    ip[0] = 0x45;
    putBig16(ip + 2, static_cast<std::uint32_t>(packet.size()));
    putBig16(ip + 4, s.identification);
    ip[6] = 0x40;
    ip[8] = 64;
    ip[9] = 6;
    const std::uint8_t addresses[8] = {192, 168, 42, 2, 192, 168, 42, 1};
    std::memcpy(ip + 12, addresses, 8);
    putBig16(ip + 10, plainChecksum(ip, 20));
    std::uint8_t* tcp = ip + 20;
    putBig16(tcp, s.sourcePort);
    putBig16(tcp + 2, 5201);
    putBig32(tcp + 4, s.sequence);
    putBig32(tcp + 8, s.acknowledgement);
    tcp[12] = tcpLength / 4 << 4;
    tcp[13] = s.flags;
    putBig16(tcp + 14, 512);
    const std::uint8_t options[12] = {1, 1, 8, 10, 0, 0, 0, s.timestamp, 0, 0, 0, 9};
    std::memcpy(tcp + 20, options, sizeof options);
    for (std::size_t i = 0; i < s.payload; ++i)
        tcp[tcpLength + i] = static_cast<std::uint8_t>(s.sequence + i);
    const std::size_t length = packet.size() - 20;
    std::uint32_t pseudo = static_cast<std::uint32_t>(ip[12] << 8 | ip[13]) +
                           static_cast<std::uint32_t>(ip[14] << 8 | ip[15]) +
                           static_cast<std::uint32_t>(ip[16] << 8 | ip[17]) +
                           static_cast<std::uint32_t>(ip[18] << 8 | ip[19]) + 6 +
                           static_cast<std::uint32_t>(length);
    putBig16(tcp + 16, plainChecksum(tcp, length, pseudo));
    return packet;
}

// The writes that a run of packets makes, each cut apart again.
std::vector<std::vector<Bytes>> writesOf(const std::vector<Bytes>& packets) {
    CoalescedWrite coalesced;
    std::vector<std::vector<Bytes>> writes;
    const auto writeOut = [&](std::span<const std::uint8_t> bytes) {
        const Bytes write(bytes.begin(), bytes.end());
        const auto plan = OffloadedPacket::of(write);
        EXPECT_TRUE(plan) << "a write the kernel would refuse";
        std::vector<Bytes> segments;
        for (std::size_t i = 0; plan && i < plan->segmentCount(); ++i) {
            Bytes segment(plan->segmentLength(i));
            plan->writeSegment(i, segment.data());
            segments.push_back(segment);
        }
        writes.push_back(segments);
    };
    for (const Bytes& packet : packets)
        if (!coalesced.add(packet)) {
            writeOut(coalesced.take());
            EXPECT_TRUE(coalesced.add(packet));
        }
    if (!coalesced.empty())
        writeOut(coalesced.take());
    return writes;
}

struct CoalesceCase {
    const char* name;
    std::vector<Segment> segments;
    std::vector<std::size_t> writeSizes; // segments per write
};

class CoalesceTest : public ::testing::TestWithParam<CoalesceCase> {};

TEST_P(CoalesceTest, WritesCutBackIntoTheSameSegments) {
    const CoalesceCase& c = GetParam();
    std::vector<Bytes> packets;
    for (const Segment& s : c.segments)
        packets.push_back(segmentOf(s));
    const auto writes = writesOf(packets);
    ASSERT_EQ(writes.size(), c.writeSizes.size());
    std::size_t next = 0;
    for (std::size_t w = 0; w < writes.size(); ++w) {
        ASSERT_EQ(writes[w].size(), c.writeSizes[w]) << "write " << w;
        for (const Bytes& segment : writes[w])
            EXPECT_EQ(segment, packets[next++]) << "segment " << next - 1;
    }
}

std::vector<Segment> burst(std::size_t count, std::size_t payload = 1000) {
    std::vector<Segment> segments;
    for (std::size_t i = 0; i < count; ++i)
        segments.push_back(Segment{static_cast<std::uint32_t>(1000 + i * payload), payload, 0x10,
                                   static_cast<std::uint16_t>(7 + i)});
    return segments;
}

template <typename Change>
std::vector<Segment> changed(std::vector<Segment> segments, std::size_t at, Change change) {
    change(segments[at]);
    return segments;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CoalesceTest,
    ::testing::Values(
        CoalesceCase{"OneSegmentAlone", burst(1), {1}},
        CoalesceCase{"ConsecutiveSegmentsJoin", burst(5), {5}},
        CoalesceCase{"LastShortSegmentJoins",
                     changed(burst(3), 2, [](Segment& s) { s.payload = 300; }),
                     {3}},
        CoalesceCase{"ShortSegmentEndsTheRun",
                     [] {
                         auto s = changed(burst(4), 1, [](Segment& x) { x.payload = 300; });
                         s[2].sequence = 1000 + 1300;
                         s[3].sequence = 1000 + 2300;
                         return s;
                     }(),
                     {2, 2}},
        CoalesceCase{"LongerSegmentCannotJoin",
                     changed(burst(2), 1, [](Segment& s) { s.payload = 1200; }),
                     {1, 1}},
        CoalesceCase{
            "PushEndsTheRun", changed(burst(4), 1, [](Segment& s) { s.flags = 0x18; }), {2, 2}},
        CoalesceCase{
            "SequenceGap", changed(burst(3), 2, [](Segment& s) { s.sequence += 1; }), {2, 1}},
        CoalesceCase{"AnotherFlow",
                     changed(burst(3), 1, [](Segment& s) { s.sourcePort = 40001; }),
                     {1, 1, 1}},
        CoalesceCase{"OtherAcknowledgement",
                     changed(burst(2), 1, [](Segment& s) { s.acknowledgement = 556; }),
                     {1, 1}},
        CoalesceCase{
            "OtherOptions", changed(burst(2), 1, [](Segment& s) { s.timestamp = 2; }), {1, 1}},
        CoalesceCase{
            "SynIsNeverJoined", changed(burst(2), 0, [](Segment& s) { s.flags = 0x12; }), {1, 1}},
        CoalesceCase{
            "FinIsNeverJoined", changed(burst(2), 1, [](Segment& s) { s.flags = 0x11; }), {1, 1}},
        CoalesceCase{"UpToAnIpPacket", burst(50, 1400), {46, 4}}),
    [](const auto& info) { return std::string(info.param.name); });

// Whatever the kernel would have dropped alone is never carried in by another.
TEST(Coalesce, SpoiledSegmentIsWrittenAlone) {
    const std::vector<std::function<void(Bytes&)>> spoils = {
        [](Bytes& p) { p[20 + 40] ^= 1; },                      // TCP checksum
        [](Bytes& p) { p[8] = 63; },                            // TTL, IP checksum stale
        [](Bytes& p) { p[10] ^= 1; },                           // IP checksum
        [](Bytes& p) { putBig16(p.data() + 2, p.size() - 1); }, // IP length
        [](Bytes& p) { p[6] |= 0x20; },                         // a fragment
    };
    for (std::size_t i = 0; i < spoils.size(); ++i) {
        SCOPED_TRACE("spoil " + std::to_string(i));
        std::vector<Bytes> packets;
        for (const Segment& s : burst(3))
            packets.push_back(segmentOf(s));
        spoils[i](packets[1]);
        CoalescedWrite coalesced;
        ASSERT_TRUE(coalesced.add(packets[0]));
        EXPECT_FALSE(coalesced.add(packets[1]));
        const auto write = coalesced.take();
        EXPECT_EQ(Bytes(write.begin() + VnetHeader::size, write.end()), packets[0]);
        // Alone it goes as it came, for the kernel to judge.
        ASSERT_TRUE(coalesced.add(packets[1]));
        EXPECT_FALSE(coalesced.add(packets[2]));
        const auto alone = coalesced.take();
        EXPECT_EQ(VnetHeader::read(alone.data()).gsoType, VnetHeader::gsoNone);
        EXPECT_EQ(Bytes(alone.begin() + VnetHeader::size, alone.end()), packets[1]);
    }
}

// The kernel completes the checksum of a super-packet it forwards from the
// sum left in the field: completed, it holds for the whole.
TEST(Coalesce, SuperPacketChecksumCompletesAsTheKernelDoes) {
    CoalescedWrite coalesced;
    for (const Segment& s : burst(4))
        ASSERT_TRUE(coalesced.add(segmentOf(s)));
    const auto write = coalesced.take();
    const VnetHeader header = VnetHeader::read(write.data());
    ASSERT_EQ(header.flags, VnetHeader::needsChecksum);
    ASSERT_EQ(header.gsoType, VnetHeader::gsoTcpV4);
    EXPECT_EQ(header.segmentSize, 1000);
    EXPECT_EQ(header.headerLength, 52);
    Bytes packet(write.begin() + VnetHeader::size, write.end());
    ASSERT_EQ(packet.size(), 52u + 4000u);
    EXPECT_EQ(plainChecksum(packet.data(), 20), 0) << "the IP header's checksum holds";
    const std::size_t at = header.checksumStart + header.checksumOffset;
    putBig16(packet.data() + at, plainChecksum(packet.data() + header.checksumStart,
                                               packet.size() - header.checksumStart));
    const Bytes whole = segmentOf(Segment{1000, 4000});
    EXPECT_EQ(Bytes(packet.begin() + 20, packet.end()), Bytes(whole.begin() + 20, whole.end()))
        << "the TCP segment of one 4000-byte send, checksum included";
}

// Only TCP segments with data may start a run; the rest go at once.
TEST(Coalesce, OnlyTcpWithDataMayStartARun) {
    const Bytes data = segmentOf(Segment{});
    const Bytes pureAck = segmentOf(Segment{1000, 0});
    Bytes udp = data;
    udp[9] = 17;
    Bytes withIpOptions = data;
    withIpOptions[0] = 0x46;
    EXPECT_TRUE(CoalescedWrite::mayStartRun(data.data(), data.size()));
    EXPECT_FALSE(CoalescedWrite::mayStartRun(pureAck.data(), pureAck.size()));
    EXPECT_FALSE(CoalescedWrite::mayStartRun(udp.data(), udp.size()));
    EXPECT_FALSE(CoalescedWrite::mayStartRun(withIpOptions.data(), withIpOptions.size()));
    EXPECT_FALSE(CoalescedWrite::mayStartRun(data.data(), 39));
}

TEST(Coalesce, NonTcpPacketsGoAloneBehindAnEmptyHeader) {
    Bytes udp = segmentOf(burst(1)[0]);
    udp[9] = 17;
    CoalescedWrite coalesced;
    ASSERT_TRUE(coalesced.add(udp));
    EXPECT_FALSE(coalesced.add(udp));
    const auto write = coalesced.take();
    EXPECT_EQ(Bytes(write.begin(), write.begin() + VnetHeader::size), Bytes(VnetHeader::size, 0));
    EXPECT_EQ(Bytes(write.begin() + VnetHeader::size, write.end()), udp);
    EXPECT_TRUE(coalesced.empty());
}

} // namespace
