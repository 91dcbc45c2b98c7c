// A host and two members on three "machines" (network namespaces joined by a
// bridge). The invitation goes from the host to each member the way a user
// without a display passes it: read with the command line on the host's
// control socket, given with the command line on the member's.

#include "tests/support/LobbyNodes.h"
#include "tests/support/RunCommand.h"
#include "tests/support/TestMachines.h"

#include <iostream>

using namespace lobbytest;
using testsupport::CommandResult;
using testsupport::runCommand;
using testsupport::TestMachines;
using testsupport::trimmed;
using namespace std::chrono;
using namespace std::chrono_literals;

namespace {

double millisecondsOf(steady_clock::duration duration) {
    return duration_cast<microseconds>(duration).count() / 1000.0;
}

class LobbyNetnsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root to create network namespaces";
        machines = std::make_unique<TestMachines>(3);
        ASSERT_TRUE(machines->ready);
        for (int i = 1; i <= 3; ++i) {
            sockets.push_back("/tmp/vaskor-lobby-netns-" + std::to_string(getpid()) + "-" +
                              std::to_string(i) + ".sock");
            allNodes.push_back(machines->inside(i, [&] {
                return LobbyNode::create({{"VASKOR_SDK_ADDRESSES", TestMachines::address(i)},
                                          {"VASKOR_SDK_CONTROL_SOCKET", sockets.back()},
                                          {"VASKOR_SDK_PEER_TIMEOUT_MS", timeout}});
            }));
            ASSERT_TRUE(allNodes.back());
        }
    }

    static constexpr const char* timeout = "3000";

    void TearDown() override {
        allNodes.clear();
        machines.reset();
    }

    Nodes all() {
        Nodes nodes;
        for (auto& node : allNodes)
            if (node->alive())
                nodes.push_back(node.get());
        return nodes;
    }

    // The client program on machine i, talking to that machine's core.
    CommandResult client(int machine, const std::string& arguments) {
        auto command = runCommand("ip netns exec " + machines->name(machine) + " " +
                                  VASKOR_SDK_CLIENT_PROGRAM + " " + arguments + " --socket " +
                                  sockets.at(machine - 1));
        while (command.wait_for(0s) != std::future_status::ready)
            pumpFor(all(), 2ms);
        return command.get();
    }

    std::unique_ptr<TestMachines> machines;
    std::vector<std::string> sockets;
    std::vector<std::unique_ptr<LobbyNode>> allNodes;
};

TEST_F(LobbyNetnsTest, InvitationByCommandLineJoinsTwoMembersAndHostLossEndsTheLobby) {
    LobbyNode& host = *allNodes[0];
    host.createLobby();
    host.run();
    ASSERT_TRUE(host.connected());
    discord::Activity activity;
    activity.SetState("Hosting a VPN");
    activity.GetParty().GetSize().SetCurrentSize(1);
    activity.GetParty().GetSize().SetMaxSize(8);
    activity.GetSecrets().SetJoin(host.secret().c_str());
    host.core().ActivityManager().UpdateActivity(activity, {});
    host.core().OverlayManager().OpenActivityInvite(discord::ActivityActionType::Join, {});

    const auto invitation = client(1, "invitation");
    ASSERT_EQ(invitation.status, 0);
    const std::string secret = trimmed(invitation.output);
    EXPECT_EQ(secret, host.secret());

    // Each member accepts the invitation as the engine does: the join event
    // connects to the lobby.
    std::vector<steady_clock::time_point> connectCalled(3);
    for (int i = 2; i <= 3; ++i) {
        LobbyNode& member = *allNodes[i - 1];
        member.core().ActivityManager().OnActivityJoin.Connect([&, i](const char* text) {
            connectCalled[i - 1] = steady_clock::now();
            allNodes[i - 1]->connect(text);
        });
        const auto given = client(i, "join " + secret);
        ASSERT_EQ(given.status, 0) << given.output;
        ASSERT_TRUE(pumpUntil(
            all(), [&] { return member.completion.has_value(); }, 12s));
        ASSERT_TRUE(member.connected());
        EXPECT_EQ(member.joins, std::vector<std::string>{secret});
    }
    // Times as the members' runs saw them, good to the pump's 2 ms.
    for (int i = 2; i <= 3; ++i) {
        EXPECT_EQ(allNodes[i - 1]->lobbyId(), host.lobbyId());
        std::cout << "member " << i - 1 << ": ConnectLobbyWithActivitySecret to completion "
                  << millisecondsOf(allNodes[i - 1]->completedAt - connectCalled[i - 1]) << " ms"
                  << std::endl;
    }

    for (auto* node : all())
        ASSERT_EQ(node->update({{"$net.peer_id", std::to_string(node->node().peerId).c_str()},
                                {"$net.route", node->node().route.c_str()}}),
                  Result::Ok);
    ASSERT_TRUE(pumpUntil(all(), [&] {
        for (auto* node : all())
            for (auto* other : all())
                if (!node->metadata(other->userId, "$net.route"))
                    return false;
        return true;
    }));
    for (auto* node : all()) {
        EXPECT_EQ(node->memberIds(), host.memberIds());
        EXPECT_EQ(node->eventsOf("update"), host.eventsOf("update"));
    }

    const auto destroyed = steady_clock::now();
    host.destroy();
    std::vector<steady_clock::time_point> deleted(3);
    ASSERT_TRUE(pumpUntil(
        all(),
        [&] {
            bool done = true;
            for (int i = 2; i <= 3; ++i) {
                if (deleted[i - 1] == steady_clock::time_point{} &&
                    !allNodes[i - 1]->eventsOf("delete").empty())
                    deleted[i - 1] = steady_clock::now();
                done = done && deleted[i - 1] != steady_clock::time_point{};
            }
            return done;
        },
        1s))
        << "every member hears of the host's end within a second";
    for (int i = 2; i <= 3; ++i)
        std::cout << "member " << i - 1 << ": host destroyed to OnLobbyDelete "
                  << millisecondsOf(deleted[i - 1] - destroyed) << " ms" << std::endl;
}

TEST_F(LobbyNetnsTest, HostCutOffWithoutAWordEndsTheLobbyAfterTheTimeOut) {
    LobbyNode& host = *allNodes[0];
    host.createLobby();
    host.run();
    for (int i = 2; i <= 3; ++i) {
        allNodes[i - 1]->connect(host.secret());
        ASSERT_TRUE(pumpUntil(all(), [&] { return allNodes[i - 1]->completion.has_value(); }));
        ASSERT_TRUE(allNodes[i - 1]->connected());
    }
    pumpFor(all(), 100ms);
    ASSERT_EQ(std::system(("ip -n " + machines->name(1) + " link set eth0 down").c_str()), 0);
    const auto cut = steady_clock::now();
    ASSERT_TRUE(pumpUntil(
        all(),
        [&] {
            return !allNodes[1]->eventsOf("delete").empty() &&
                   !allNodes[2]->eventsOf("delete").empty();
        },
        6s));
    const auto waited = steady_clock::now() - cut;
    std::cout << "host cut off to OnLobbyDelete on both members " << millisecondsOf(waited)
              << " ms (time-out " << timeout << " ms)" << std::endl;
    EXPECT_GE(waited, 2s) << "not before the time-out";
    // The host, for its part, loses both members on its own clock, which may run a little behind.
    EXPECT_TRUE(pumpUntil(
        all(), [&] { return host.eventsOf("disconnect").size() == 2u; }, 2s))
        << "the host saw " << host.eventsOf("disconnect").size() << " of 2 members leave";
}

} // namespace
