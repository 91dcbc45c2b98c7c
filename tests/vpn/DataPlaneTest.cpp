// The data plane of real runs: a host and two members in one process, each
// with its own copy of the real game SDK over loopback and a fake adapter
// whose packets stay in memory (tests/support/fake-adapter). The invitations
// go through each core's control socket, as a person's do.
#include "adapter/WintunAdapter.h"
#include "sdk/control/ControlSocketPath.h"
#include "tests/support/ControlTesting.h"
#include "tests/support/Ipv4Packets.h"
#include "tests/support/PumpUntil.h"
#include "tests/support/fake-adapter/FakeAdapterHub.h"
#include "vpn/Vpn.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
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
using testsupport::FakeAdapterHub;
using testsupport::Packet;

// One run with its adapter and what the run wrote into it so far.
struct Party {
    std::unique_ptr<Vpn> run;
    Ipv4Cidr address;
    FakeAdapter* adapter = nullptr;
    std::vector<Packet> written;

    bool got(const Packet& packet) const {
        return std::find(written.begin(), written.end(), packet) != written.end();
    }
};

bool waitFor(const std::function<bool()>& done) {
    return testsupport::pumpUntil([] {}, done);
}

class DataPlane : public testing::Test {
protected:
    DataPlane() {
        ::unsetenv(controlSocketSetting);
        ::unsetenv("VASKOR_SDK_UNAVAILABLE");
        ::unsetenv("VASKOR_SDK_PORT");
    }

    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(startHost());
        ASSERT_NO_FATAL_FAILURE(join());
        ASSERT_NO_FATAL_FAILURE(join());
        for (std::size_t sender = 0; sender < parties.size(); ++sender)
            ASSERT_NO_FATAL_FAILURE(reachEveryone(sender));
    }

    // Broadcasts from the sender until one has reached every other run: the
    // members' peers are then up both ways.
    void reachEveryone(std::size_t sender) {
        std::vector<Packet> tries;
        int polls = 0;
        ASSERT_TRUE(waitFor([&] {
            if (polls++ % 250 == 0) {
                tries.push_back(udpFrom(sender, "192.168.42.255"));
                parties[sender].adapter->inject(tries.back());
            }
            collect();
            for (std::size_t i = 0; i < parties.size(); ++i)
                if (i != sender && std::none_of(tries.begin(), tries.end(), [&](const Packet& p) {
                        return parties[i].got(p);
                    }))
                    return false;
            return true;
        })) << "run " << sender << " cannot reach every other run";
    }

    // The control socket that appeared since the earlier ones.
    std::string newControlSocket() {
        std::string found;
        waitFor([&] {
            for (const std::string& path : findLiveControlSockets())
                if (!sockets.contains(path))
                    found = path;
            return !found.empty();
        });
        EXPECT_FALSE(found.empty()) << "the run's core has no control socket";
        sockets.insert(found);
        return found;
    }

    // Waits until the run has its address and the adapter carries it.
    void awaitAddress(Party& party, const char* address) {
        party.address = Ipv4Cidr::parse(address);
        ASSERT_TRUE(waitFor([&] {
            party.adapter = hub.adapterWithAddress(party.address);
            return party.adapter != nullptr && party.run->address() == party.address;
        })) << "no address " << address << " for run " << parties.size();
    }

    void startHost() {
        Party& host = parties.emplace_back();
        host.run = std::make_unique<Vpn>(Ipv4Cidr::parse("192.168.42.1/24"));
        hostSocket = newControlSocket();
        ASSERT_NO_FATAL_FAILURE(awaitAddress(host, "192.168.42.1/24"));

        host.run->requestInvite();
        ControlClient window(hostSocket);
        ASSERT_TRUE(waitFor([&] {
            window.poll();
            return window.hasState() && !window.state().invitation.empty();
        }));
        invitation = window.state().invitation;
    }

    // A member run that takes the host's invitation; the host gives addresses
    // in join order.
    void join() {
        Party& member = parties.emplace_back();
        member.run = std::make_unique<Vpn>();
        ControlClient window(newControlSocket());
        window.sendJoin(invitation);
        std::optional<ControlAnswer> answer;
        ASSERT_TRUE(waitFor([&] {
            window.poll();
            return (answer = window.takeAnswer()).has_value();
        }));
        ASSERT_TRUE(answer->accepted) << answer->error;
        const std::string address = "192.168.42." + std::to_string(parties.size()) + "/24";
        ASSERT_NO_FATAL_FAILURE(awaitAddress(member, address.c_str()));
    }

    void collect() {
        for (Party& party : parties)
            for (Packet& packet : party.adapter->takeWritten())
                party.written.push_back(std::move(packet));
    }

    // Waits until every party but the sender has the packet.
    bool reachesAllOthers(std::size_t sender, const Packet& packet) {
        return waitFor([&] {
            collect();
            for (std::size_t i = 0; i < parties.size(); ++i)
                if (i != sender && !parties[i].got(packet))
                    return false;
            return true;
        });
    }

    Packet udpFrom(std::size_t sender, const char* destination, std::size_t length = 60) {
        return udpPacket(parties[sender].address.address, ipv4Address(destination), 40000, 9,
                         length, ++sequence);
    }

    // A broadcast after a packet that some parties must not get: once it is
    // everywhere, the earlier packet would have been too.
    Packet sendMarker(std::size_t sender) {
        Packet marker = udpFrom(sender, "192.168.42.255");
        EXPECT_TRUE(parties[sender].adapter->inject(marker));
        EXPECT_TRUE(reachesAllOthers(sender, marker)) << "the marker did not arrive";
        return marker;
    }

    std::vector<std::uint64_t> sentCounts() const {
        std::vector<std::uint64_t> counts;
        for (const Party& party : parties)
            counts.push_back(party.run->sentBytes());
        return counts;
    }
    std::vector<std::uint64_t> receivedCounts() const {
        std::vector<std::uint64_t> counts;
        for (const Party& party : parties)
            counts.push_back(party.run->receivedBytes());
        return counts;
    }

    TemporaryDirectory runtime; // the control sockets, removed at the end
    ScopedSetting runtimeDirectory{"XDG_RUNTIME_DIR", runtime.path};
    ScopedSetting noClientWindow{"VASKOR_SDK_CLIENT", "0"};
    ScopedSetting loopback{"VASKOR_SDK_ADDRESSES", "127.0.0.1"};
    FakeAdapterHub hub;          // outlives the runs
    std::vector<Party> parties;  // host, then members in join order
    std::set<std::string> sockets;
    std::string hostSocket;
    std::string invitation;
    std::uint32_t sequence = 0;
};

TEST_F(DataPlane, EveryRunHasItsOwnAdapterAndTheAddressOfItsJoinOrder) {
    EXPECT_EQ(hub.adapters().size(), 3u) << "one adapter per run, none removed by another run";
    EXPECT_EQ(sockets.size(), 3u) << "three cores of one process, three control sockets";
    EXPECT_EQ(findLiveControlSockets().size(), 3u);
    for (const Party& party : parties) {
        EXPECT_FALSE(party.adapter->deleted());
        EXPECT_TRUE(party.adapter->hasSession());
        EXPECT_EQ(party.adapter->mtu(), adapterMtu);
        EXPECT_EQ(party.adapter->addressChanges(), 1) << party.address.toString();
        EXPECT_EQ(party.adapter->name(), u"Orvanti VPN");
    }
    EXPECT_EQ(invitation.rfind("vaskor1.", 0), 0u) << invitation;

    // Ending a run removes its adapter, and only its own.
    FakeAdapter* ended = parties[2].adapter;
    parties[2].run.reset();
    EXPECT_TRUE(ended->deleted());
    EXPECT_FALSE(ended->address());
    EXPECT_FALSE(parties[0].adapter->deleted());
    EXPECT_FALSE(parties[1].adapter->deleted());
}

// Broadcasts first: every run learns the others' addresses from them.
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
        const auto sentBefore = sentCounts();
        const auto receivedBefore = receivedCounts();
        const Packet packet = udpFrom(c.sender, c.destination);
        ASSERT_TRUE(parties[c.sender].adapter->inject(packet));
        ASSERT_TRUE(waitFor([&] {
            collect();
            return std::all_of(c.reaches.begin(), c.reaches.end(),
                               [&](std::size_t i) { return parties[i].got(packet); });
        })) << "the packet did not reach every party it should";
        const Packet marker = sendMarker(c.sender);

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
    Packet tooShort = udpFrom(1, "192.168.42.255");
    tooShort.resize(19);
    const Packet shortest = [&] {
        Packet packet = udpFrom(1, "192.168.42.255");
        packet.resize(20); // a header alone is forwarded as it is
        return packet;
    }();
    const auto sentBefore = sentCounts();
    const auto receivedBefore = receivedCounts();
    for (const Packet& packet : {ipv6, tooShort, shortest})
        ASSERT_TRUE(parties[1].adapter->inject(packet));
    ASSERT_TRUE(reachesAllOthers(1, shortest));
    const Packet marker = sendMarker(1);

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
