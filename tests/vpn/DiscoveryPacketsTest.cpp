#include "vpn/DiscoveryPackets.h"
#include "vpn/Discovery.h"

#include "tests/support/Ipv4Packets.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <string>
#include <vector>

namespace {

using discovery::Kind;
using Clock = std::chrono::steady_clock;

std::vector<std::uint8_t> udpTo(const char* destination, std::size_t length = 60,
                                std::uint32_t sequence = 7) {
    return udpPacket(ipv4Address("192.168.1.11"), ipv4Address(destination), 40000, 4445, length,
                     sequence);
}

TEST(DiscoveryPackets, OnlyUnfragmentedUdpToTheLimitedBroadcastOrARoutableGroupQualifies) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> packet;
        Kind expected;
    };
    std::vector<Case> cases = {
        {"limited broadcast", udpTo("255.255.255.255"), Kind::limitedBroadcast},
        {"the game's group", udpTo("224.0.2.60"), Kind::multicast},
        {"SSDP's group", udpTo("239.255.255.250"), Kind::multicast},
        {"the last group", udpTo("239.255.255.255"), Kind::multicast},
        {"first beyond the link-local block", udpTo("224.0.1.0"), Kind::multicast},
        {"mDNS, link-local", udpTo("224.0.0.251"), Kind::none},
        {"all hosts, link-local", udpTo("224.0.0.1"), Kind::none},
        {"the network's own broadcast", udpTo("192.168.42.255"), Kind::none},
        {"unicast", udpTo("192.168.42.2"), Kind::none},
        {"class E", udpTo("240.0.0.1"), Kind::none},
    };
    auto variant = [](const char* what, auto edit) {
        std::vector<std::uint8_t> packet = udpTo("255.255.255.255");
        edit(packet);
        return Case{what, packet, Kind::none};
    };
    cases.push_back(variant("TCP", [](auto& p) { p[9] = 6; }));
    cases.push_back(variant("a first fragment", [](auto& p) { p[6] = 0x20; }));
    cases.push_back(variant("a later fragment", [](auto& p) { p[7] = 0x10; }));
    cases.push_back(variant("IPv6", [](auto& p) { p[0] = 0x60; }));
    cases.push_back(variant("header longer than the packet", [](auto& p) {
        p[0] = 0x4f;
        p.resize(40);
    }));
    cases.push_back(variant("total length past the end", [](auto& p) { p[3] = 200; }));
    cases.push_back(variant("UDP length past the packet", [](auto& p) { p[25] = 200; }));
    cases.push_back(variant("UDP length below its header", [](auto& p) { p[25] = 7; }));
    cases.push_back(variant("cut inside the UDP header", [](auto& p) {
        p.resize(24);
        p[3] = 24;
    }));
    cases.push_back(variant("empty", [](auto& p) { p.clear(); }));
    cases.push_back(Case{"DF set is still whole",
                         [] {
                             auto p = udpTo("255.255.255.255");
                             p[6] = 0x40;
                             return p;
                         }(),
                         Kind::limitedBroadcast});
    for (const Case& c : cases)
        EXPECT_EQ(discovery::kindOf(c.packet), c.expected) << c.what;
}

// The kernel drops a datagram whose checksums do not hold: the copy must be
// exactly what the sender would have built with the other address.
TEST(DiscoveryPackets, ACopyWithAnotherSourceIsThePacketThatSourceWouldHaveSent) {
    for (std::size_t length : {28u, 29u, 60u, 61u, 1400u})
        for (const char* destination : {"255.255.255.255", "224.0.2.60"}) {
            const std::vector<std::uint8_t> sent = udpPacket(
                ipv4Address("192.168.1.11"), ipv4Address(destination), 40000, 4445, length, 3);
            const std::vector<std::uint8_t> expected = udpPacket(
                ipv4Address("192.168.42.1"), ipv4Address(destination), 40000, 4445, length, 3);
            EXPECT_EQ(discovery::withSource(sent, ipv4Address("192.168.42.1")), expected)
                << length << " bytes to " << destination;
        }
}

TEST(DiscoveryPackets, ACopyLeavesLinkPaddingAndAnyOffloadedChecksumBehind) {
    std::vector<std::uint8_t> captured = udpTo("224.0.2.60", 60);
    const std::vector<std::uint8_t> expected =
        udpPacket(ipv4Address("10.0.0.9"), ipv4Address("224.0.2.60"), 40000, 4445, 60, 7);
    captured[26] = 0x12; // a partial checksum, as an interface that fills it in leaves it
    captured[27] = 0x34;
    captured.insert(captured.end(), {0, 0, 0, 0}); // padding after the total length
    EXPECT_EQ(discovery::withSource(captured, ipv4Address("10.0.0.9")), expected);
}

TEST(DiscoveryPackets, TheBucketLetsABurstThroughThenItsRate) {
    const discovery::Bound bound{.burst = 5, .perSecond = 10};
    const Clock::time_point start{};
    discovery::TokenBucket bucket(bound, start);
    int passed = 0;
    for (int i = 0; i < 100; ++i)
        passed += bucket.take(start);
    EXPECT_EQ(passed, 5) << "the burst, all at one moment";
    // Over the next two seconds, one attempt every millisecond.
    for (int ms = 1; ms <= 2000; ++ms)
        passed += bucket.take(start + std::chrono::milliseconds(ms));
    EXPECT_EQ(passed, 5 + 20);
    // A long quiet refills the burst and no more.
    const Clock::time_point later = start + std::chrono::hours(1);
    passed = 0;
    for (int i = 0; i < 100; ++i)
        passed += bucket.take(later);
    EXPECT_EQ(passed, 5);
}

TEST(DiscoveryPackets, ADatagramSentOnTwoInterfacesIsSeenOnceWithinTheWindow) {
    discovery::RecentDatagrams recent;
    const Clock::time_point start = Clock::now();
    const std::vector<std::uint8_t> onLan = udpTo("224.0.2.60");
    const std::vector<std::uint8_t> onAdapter =
        udpPacket(ipv4Address("192.168.42.1"), ipv4Address("224.0.2.60"), 40000, 4445, 60, 7);
    EXPECT_FALSE(recent.seenBefore(onLan, start));
    EXPECT_TRUE(recent.seenBefore(onAdapter, start + std::chrono::milliseconds(5)))
        << "the same datagram with another source";

    struct Other {
        const char* what;
        std::vector<std::uint8_t> packet;
    } others[] = {
        {"another payload", udpTo("224.0.2.60", 60, 8)},
        {"another group", udpTo("224.0.2.61")},
        {"another length", udpTo("224.0.2.60", 61)},
        {"another port",
         udpPacket(ipv4Address("192.168.1.11"), ipv4Address("224.0.2.60"), 40000, 4446, 60, 7)},
    };
    for (const Other& other : others)
        EXPECT_FALSE(recent.seenBefore(other.packet, start + std::chrono::milliseconds(10)))
            << other.what;
    EXPECT_FALSE(recent.seenBefore(onLan, start + discovery::RecentDatagrams::window +
                                              std::chrono::milliseconds(10)))
        << "the next announcement, after the window";
}

TEST(DiscoveryPackets, TheSettingTakesOnOrOff) {
    struct Case {
        const char* value;
        std::optional<bool> expected;
    } cases[] = {
        {nullptr, true},
        {"", true},
        {"1", true},
        {"on", true},
        {"yes", true},
        {"true", true},
        {"0", false},
        {"off", false},
        {"no", false},
        {"false", false},
        {"maybe", std::nullopt},
        {"OFF ", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Discovery::readSetting(c.value), c.expected) << (c.value ? c.value : "(unset)");
}

} // namespace
