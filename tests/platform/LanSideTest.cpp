#include "platform/LanSide.h"

#include "tests/support/SystemIpv4.h"
#ifndef _WIN32
#include "tests/support/TestMachines.h"
#endif

#include <gtest/gtest.h>

#include <vector>

namespace {

// A discovery datagram as the run would copy it: UDP to 255.255.255.255.
std::vector<std::uint8_t> broadcastPacket() {
    std::vector<std::uint8_t> packet(32, 0);
    packet[0] = 0x45;
    packet[3] = 32;
    packet[8] = 1;
    packet[9] = 17;
    for (int i = 16; i < 20; ++i)
        packet[i] = 0xff;
    packet[23] = 9;
    packet[25] = 12;
    return packet;
}

void expectNothingCopied() {
    const std::uint32_t nobodysAddress = testsupport::systemIpv4("198.51.100.77").value();
    LanSideError error;
    std::unique_ptr<LanSide> lan = LanSide::open(nobodysAddress, error);
    if (!lan) {
        EXPECT_FALSE(error.reason.empty()) << "a refusal comes with its reason";
        GTEST_SKIP() << "this user cannot watch the LAN: " << error.reason;
    }
    EXPECT_NE(lan->readyHandle(), nullptr);
    lan->refresh();
    EXPECT_FALSE(lan->lanAddress());
    EXPECT_NE(lan->sendToLan(broadcastPacket()), 0);
    EXPECT_TRUE(lan->receive().empty());
}

// Until the adapter's address is on one of the machine's interfaces, nothing
// tells the adapter from the LAN: nothing is watched and nothing is sent. On
// Linux inside a test machine with a LAN and a default route, so that even a
// fault sends nothing beyond it.
TEST(LanSide, WithoutTheAdapterAmongTheInterfacesNothingIsCopied) {
#ifdef _WIN32
    expectNothingCopied();
#else
    testsupport::TestMachines machines(1);
    if (!machines.ready)
        GTEST_SKIP() << "test machines need root";
    ASSERT_TRUE(
        machines.shell("ip -n " + machines.name(1) + " route add default via 10.231.0.254"));
    machines.inside(1, [] {
        expectNothingCopied();
        return true;
    });
#endif
}

} // namespace
