// The data plane of real runs: a host and two members in one process, each
// with its own copy of the real game SDK over loopback and a fake adapter
// whose packets stay in memory (tests/support/fake-adapter).
#include "adapter/WintunAdapter.h"
#include "sdk/control/ControlSocketPath.h"
#include "tests/support/fake-adapter/RunsInOneProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

// Each run maps its own copies of the SDK and adapter libraries, kept for the
// life of the process by design.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:DiscordCreate\nleak:bindWintunApi\n";
}

namespace {

using testsupport::FakeAdapter;
using testsupport::Packet;
using testsupport::Party;

class DataPlane : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(runs.startHost());
        ASSERT_NO_FATAL_FAILURE(runs.join("192.168.42.2/24"));
        ASSERT_NO_FATAL_FAILURE(runs.join("192.168.42.3/24"));
        for (std::size_t sender = 0; sender < runs.parties.size(); ++sender)
            ASSERT_NO_FATAL_FAILURE(runs.reachEveryone(sender));
    }

    testsupport::RunsInOneProcess runs;
    std::vector<Party>& parties = runs.parties;
};

TEST_F(DataPlane, EveryRunHasItsOwnAdapterAndTheAddressOfItsJoinOrder) {
    EXPECT_EQ(runs.hub.adapters().size(), 3u) << "one adapter per run, none removed by another run";
    EXPECT_EQ(runs.sockets.size(), 3u) << "three cores of one process, three control sockets";
    EXPECT_EQ(findLiveControlSockets().size(), 3u);
    for (const Party& party : parties) {
        EXPECT_FALSE(party.adapter->deleted());
        EXPECT_TRUE(party.adapter->hasSession());
        EXPECT_EQ(party.adapter->mtu(), adapterMtu);
        EXPECT_EQ(party.adapter->addressChanges(), 1) << party.address.toString();
        EXPECT_EQ(party.adapter->name(), u"Orvanti VPN");
    }
    EXPECT_EQ(runs.invitation.rfind("vaskor1.", 0), 0u) << runs.invitation;

    // Ending a run removes its adapter, and only its own.
    FakeAdapter* ended = parties[2].adapter;
    parties[2].run.reset();
    EXPECT_TRUE(ended->deleted());
    EXPECT_FALSE(ended->address());
    EXPECT_FALSE(parties[0].adapter->deleted());
    EXPECT_FALSE(parties[1].adapter->deleted());
}

// Every run has learned the others' addresses from the broadcasts of SetUp;
// an address nobody has is unknown to all.
TEST_F(DataPlane, APacketReachesEveryMemberItsDestinationNamesAndNeverItsSender) {
    struct Case {
        const char* what;
        std::size_t sender;
        const char* destination;
        std::set<std::size_t> reaches;
    };
    const Case cases[] = {
        {"a member's network broadcast", 1, "192.168.42.255", {0, 2}},
        {"the host's limited broadcast", 0, "255.255.255.255", {1, 2}},
        {"a member's multicast", 2, "224.0.0.251", {0, 1}},
        {"an address nobody has", 1, "192.168.42.77", {0, 2}},
        {"a member to the host", 2, "192.168.42.1", {0}},
        {"a member to a member", 2, "192.168.42.2", {1}},
        {"the host to a member", 0, "192.168.42.3", {2}},
        {"the host to its own address", 0, "192.168.42.1", {1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto sentBefore = runs.sentCounts();
        const auto receivedBefore = runs.receivedCounts();
        const Packet packet = runs.udpFrom(c.sender, c.destination);
        ASSERT_TRUE(parties[c.sender].adapter->inject(packet));
        ASSERT_TRUE(runs.collectUntil([&] {
            return std::all_of(c.reaches.begin(), c.reaches.end(),
                               [&](std::size_t i) { return parties[i].got(packet); });
        })) << "the packet did not reach every party it should";
        const Packet marker = runs.sendMarker(c.sender);

        for (std::size_t i = 0; i < parties.size(); ++i) {
            SCOPED_TRACE("party " + std::to_string(i));
            const bool reached = c.reaches.contains(i);
            EXPECT_EQ(parties[i].got(packet), reached);
            std::uint64_t received = 0;
            if (i != c.sender)
                received = marker.size() + (reached ? packet.size() : 0);
            EXPECT_EQ(parties[i].run->receivedBytes() - receivedBefore[i], received);
            const std::uint64_t sent = i == c.sender ? packet.size() + marker.size() : 0;
            EXPECT_EQ(parties[i].run->sentBytes() - sentBefore[i], sent);
        }
        EXPECT_FALSE(parties[c.sender].got(marker)) << "the sender got its own packet";
    }
}

TEST_F(DataPlane, OnlyIpv4PacketsLeaveButEveryPacketTakenIsCounted) {
    Packet ipv6(48, 0);
    ipv6[0] = 0x60;
    Packet tooShort = runs.udpFrom(1, "192.168.42.255");
    tooShort.resize(19);
    const Packet shortest = [&] {
        Packet packet = runs.udpFrom(1, "192.168.42.255");
        packet.resize(20); // a header alone, saying so, is forwarded as it is
        packet[2] = 0;
        packet[3] = 20;
        return packet;
    }();
    const auto sentBefore = runs.sentCounts();
    const auto receivedBefore = runs.receivedCounts();
    for (const Packet& packet : {ipv6, tooShort, shortest})
        ASSERT_TRUE(parties[1].adapter->inject(packet));
    ASSERT_TRUE(runs.reachesAllOthers(1, shortest));
    const Packet marker = runs.sendMarker(1);

    for (std::size_t i : {0u, 2u}) {
        EXPECT_FALSE(parties[i].got(ipv6));
        EXPECT_FALSE(parties[i].got(tooShort));
        EXPECT_EQ(parties[i].run->receivedBytes() - receivedBefore[i],
                  shortest.size() + marker.size());
    }
    EXPECT_EQ(parties[1].run->sentBytes() - sentBefore[1],
              ipv6.size() + tooShort.size() + shortest.size() + marker.size());
}

} // namespace
