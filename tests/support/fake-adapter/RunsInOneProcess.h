#pragma once

// A host and its members as real runs (Vpn) in one process: each with its own
// copy of the real game SDK over loopback and a fake adapter of the hub
// (FakeAdapterHub.h). Invitations go through each core's control socket, as a
// person's do. For a test target set up with vaskor_runs_in_one_process().
//
//   testsupport::RunsInOneProcess runs;       // a member of the fixture
//   ASSERT_NO_FATAL_FAILURE(runs.startHost());               // run 0: .1
//   ASSERT_NO_FATAL_FAILURE(runs.join("192.168.42.2/24"));   // run 1
//   runs.parties[1].adapter->inject(runs.udpFrom(1, "192.168.42.1"));
//   EXPECT_TRUE(runs.reachesAllOthers(...)) / runs.parties[0].got(packet)
//
// The fake adapters carry only what the test injects, so byte counters and
// the packets written are exact. Failures are reported with gtest assertions.

#include "sdk/control/ControlProtocol.h"
#include "tests/support/ControlTesting.h"
#include "tests/support/fake-adapter/FakeAdapterHub.h"
#include "vpn/Vpn.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace testsupport {

// One run with its adapter and what the run has written into it so far.
struct Party {
    std::unique_ptr<Vpn> run;
    Ipv4Cidr address;
    FakeAdapter* adapter = nullptr;
    std::vector<Packet> written; // filled by collect()

    bool got(const Packet& packet) const;
};

class RunsInOneProcess {
public:
    RunsInOneProcess();

    // The host run, as parties[0], once it has its address and its invitation.
    void startHost(const char* address = "192.168.42.1/24");
    // A member run that takes the host's invitation, once it has this address.
    void join(const char* address);

    // Moves what every run wrote into its adapter into its party's written.
    void collect();
    // Collects until done() holds (true) or 5 s have passed (false).
    bool collectUntil(const std::function<bool()>& done);
    // Waits until every party but the sender has the packet.
    bool reachesAllOthers(std::size_t sender, const Packet& packet);
    // Broadcasts from the sender until one has reached every other run: the
    // members' peers are then up both ways, and every run knows the sender's address.
    void reachEveryone(std::size_t sender);
    // A broadcast after a packet that some parties must not get: once it is
    // everywhere, the earlier packet would have been too.
    Packet sendMarker(std::size_t sender);

    // A UDP packet from the sender's address, numbered so that no two are alike.
    Packet udpFrom(std::size_t sender, const char* destination, std::size_t length = 60);

    std::vector<std::uint64_t> sentCounts() const;
    std::vector<std::uint64_t> receivedCounts() const;

    // Ordered so that the runs end first and the environment is restored last.
    TemporaryDirectory runtime; // the control sockets, removed at the end
    ScopedSetting runtimeDirectory{"XDG_RUNTIME_DIR", runtime.path};
    ScopedSetting noClientWindow{"VASKOR_SDK_CLIENT", "0"};
    ScopedSetting loopback{"VASKOR_SDK_ADDRESSES", "127.0.0.1"};
    FakeAdapterHub hub;
    std::vector<Party> parties; // the host, then the members in join order
    std::set<std::string> sockets;
    std::string invitation;

private:
    std::string newControlSocket();
    void awaitAddress(Party& party, const char* address);

    std::uint32_t sequence = 0;
};

} // namespace testsupport
