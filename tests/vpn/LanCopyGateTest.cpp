#include "vpn/lan-helper/LanCopyGate.h"

#include "platform/linux/LanHelperProtocol.h"
#include "tests/support/Ipv4Packets.h"

#include <gtest/gtest.h>

#include <net/if_arp.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t loopbackIndex = 1, lanIndex = 2, downIndex = 3, tunnelIndex = 4;

// lo, an Ethernet LAN, an interface that is down, and a point-to-point link.
InterfaceView machine() {
    InterfaceView view;
    view.interfaces[loopbackIndex] = {{ipv4Address("127.0.0.1")}, ARPHRD_LOOPBACK, true, true};
    view.interfaces[lanIndex] = {{ipv4Address("192.168.1.11")}, ARPHRD_ETHER, true, false};
    view.interfaces[downIndex] = {{ipv4Address("192.168.7.11")}, ARPHRD_ETHER, false, false};
    view.interfaces[tunnelIndex] = {{ipv4Address("10.8.0.2")}, ARPHRD_NONE, true, false};
    return view;
}

std::vector<std::uint8_t> datagram(const char* source, const char* destination,
                                   std::uint16_t sourcePort = 40000) {
    return udpPacket(ipv4Address(source), ipv4Address(destination), sourcePort, 4445, 60, 7);
}

// The helper's caller holds no privilege: it gets sent only what it could
// have sent from a socket of its own, on the interface its source belongs to.
TEST(LanCopyGate, SendsOnlyDiscoveryDatagramsFromAnUnprivilegedPortOfALanAddress) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> packet;
        int expected;
        std::uint32_t interfaceIndex = 0;
        bool ethernet = true;
    };
    std::vector<std::uint8_t> tcp = datagram("192.168.1.11", "255.255.255.255");
    tcp[9] = 6;
    std::vector<std::uint8_t> oversized = datagram("192.168.1.11", "255.255.255.255");
    oversized.resize(LanTap::largestPacket + 1);
    const std::vector<Case> cases = {
        {"a broadcast from the LAN's address", datagram("192.168.1.11", "255.255.255.255"), 0,
         lanIndex, true},
        {"a multicast from the LAN's address", datagram("192.168.1.11", "224.0.2.60"), 0, lanIndex,
         true},
        {"on a link without Ethernet addresses", datagram("10.8.0.2", "239.255.255.250"), 0,
         tunnelIndex, false},
        {"unicast", datagram("192.168.1.11", "192.168.1.13"), EINVAL},
        {"the network's own broadcast", datagram("192.168.1.11", "192.168.1.255"), EINVAL},
        {"a link-local group", datagram("192.168.1.11", "224.0.0.251"), EINVAL},
        {"TCP", tcp, EINVAL},
        {"longer than a discovery datagram", oversized, EINVAL},
        {"empty", {}, EINVAL},
        {"from DHCP's server port", datagram("192.168.1.11", "255.255.255.255", 67), EACCES},
        {"from the last privileged port", datagram("192.168.1.11", "255.255.255.255", 1023),
         EACCES},
        {"from another machine's address", datagram("192.168.1.13", "255.255.255.255"),
         EADDRNOTAVAIL},
        {"from loopback", datagram("127.0.0.1", "255.255.255.255"), EADDRNOTAVAIL},
        {"from an interface that is down", datagram("192.168.7.11", "255.255.255.255"),
         EADDRNOTAVAIL},
    };
    const InterfaceView view = machine();
    for (const Case& c : cases) {
        LanCopyGate gate;
        LanCopyTarget target{99, false};
        EXPECT_EQ(gate.admit(c.packet, view, target), c.expected) << c.what;
        if (c.expected == 0) {
            EXPECT_EQ(target.interfaceIndex, c.interfaceIndex) << c.what;
            EXPECT_EQ(target.ethernet, c.ethernet) << c.what;
        }
    }
}

// The run's own bound holds in the helper too, whatever its caller asks;
// refused requests cost none of it.
TEST(LanCopyGate, ABurstThenItsRateGoOutAndRefusalsSpendNothing) {
    const Clock::time_point start = Clock::now();
    LanCopyGate gate(start);
    const InterfaceView view = machine();
    const std::vector<std::uint8_t> good = datagram("192.168.1.11", "255.255.255.255");
    const std::vector<std::uint8_t> foreign = datagram("192.168.1.13", "255.255.255.255");
    LanCopyTarget target;
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(gate.admit(foreign, view, target, start), EADDRNOTAVAIL);
    const discovery::Bound bound;
    for (std::uint32_t i = 0; i < bound.burst; ++i)
        ASSERT_EQ(gate.admit(good, view, target, start), 0) << "datagram " << i << " of the burst";
    EXPECT_EQ(gate.admit(good, view, target, start), EAGAIN);
    const Clock::time_point aSecondLater = start + std::chrono::seconds(1);
    for (std::uint32_t i = 0; i < bound.perSecond; ++i)
        ASSERT_EQ(gate.admit(good, view, target, aSecondLater), 0) << "datagram " << i;
    EXPECT_EQ(gate.admit(good, view, target, aSecondLater), EAGAIN);
}

TEST(LanHelperProtocol, EveryKindRoundTripsAndMalformedMessagesAreRefused) {
    const std::vector<std::uint8_t> packet = datagram("192.168.1.11", "255.255.255.255");
    for (const auto& [kind, value, carried] :
         std::vector<std::tuple<LanHelperKind, std::uint32_t, std::vector<std::uint8_t>>>{
             {LanHelperKind::opened, EPERM, {}},
             {LanHelperKind::captured, 0x01020304u, packet},
             {LanHelperKind::send, 0, packet},
             {LanHelperKind::sendResult, EAGAIN, {}}}) {
        const std::vector<std::uint8_t> message = encodeLanHelperMessage(kind, value, carried);
        const auto parsed = parseLanHelperMessage(message);
        ASSERT_TRUE(parsed) << static_cast<int>(kind);
        EXPECT_EQ(parsed->kind, kind);
        EXPECT_EQ(parsed->value, value);
        EXPECT_EQ(std::vector<std::uint8_t>(parsed->packet.begin(), parsed->packet.end()), carried);
    }
    struct Case {
        const char* what;
        std::vector<std::uint8_t> message;
    };
    std::vector<std::uint8_t> tooLong = encodeLanHelperMessage(
        LanHelperKind::send, 0, std::vector<std::uint8_t>(LanTap::largestPacket + 1, 0x45));
    const std::vector<Case> malformed = {
        {"empty", {}},
        {"shorter than its header", {3, 0, 0, 0}},
        {"an unknown kind", encodeLanHelperMessage(static_cast<LanHelperKind>(9), 0, packet)},
        {"a send without a datagram", encodeLanHelperMessage(LanHelperKind::send, 0)},
        {"a captured datagram that is not there",
         encodeLanHelperMessage(LanHelperKind::captured, 2)},
        {"an opening that carries a datagram",
         encodeLanHelperMessage(LanHelperKind::opened, 0, packet)},
        {"longer than any datagram", tooLong},
    };
    for (const Case& c : malformed)
        EXPECT_FALSE(parseLanHelperMessage(c.message)) << c.what;
}

} // namespace
