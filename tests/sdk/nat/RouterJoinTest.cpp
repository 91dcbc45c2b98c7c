// Cores behind home routers: namespaces that translate with nftables, with
// miniupnpd where the router maps ports. The host's core asks its router to
// forward its port; a member behind another router joins through the public
// address and port that the invitation names first. Where the host's router
// maps nothing, the member's client says what the host must change.

#include "sdk/lobby/JoinSecret.h"
#include "sdk/transport/Route.h"
#include "tests/support/LobbyNodes.h"
#include "tests/support/RunCommand.h"
#include "tests/support/TestMachines.h"

#include <fstream>
#include <iostream>
#include <sstream>

using namespace lobbytest;
using namespace std::chrono;
using namespace std::chrono_literals;
using testsupport::Mapping;
using testsupport::TestMachines;
using testsupport::Translation;

namespace {

constexpr const char* peerTimeout = "3000";

double millisecondsOf(steady_clock::duration duration) {
    return duration_cast<microseconds>(duration).count() / 1000.0;
}

std::string fileText(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

struct RouterCase {
    const char* name;
    Mapping mapping;
    const char* logged; // what miniupnpd logs for a mapping by that protocol
    Translation memberRouter = Translation::keep;
};

class RouterJoinTest : public ::testing::TestWithParam<RouterCase> {
protected:
    // Machine 1 behind router 1 (the given mapping), machine 2 behind router
    // 2 (maps nothing); a core on each, mapping on.
    void start(Mapping hostMapping, Translation memberRouter = Translation::keep,
               const char* hostSetting = "on") {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root to create network namespaces";
        machines = std::make_unique<TestMachines>(
            std::vector<testsupport::Router>{{Translation::keep, hostMapping},
                                             {memberRouter, Mapping::none}},
            std::vector<int>{1, 2});
        ASSERT_TRUE(machines->ready);
        for (int i = 1; i <= 2; ++i) {
            sockets.push_back("/tmp/vaskor-router-test-" + std::to_string(getpid()) + "-" +
                              std::to_string(i) + ".sock");
            nodes.push_back(machines->inside(i, [&] {
                return LobbyNode::create({{"VASKOR_SDK_ADDRESSES", machines->addressOf(i)},
                                          {"VASKOR_SDK_PORT_MAPPING", i == 1 ? hostSetting : "on"},
                                          {"VASKOR_SDK_CONTROL_SOCKET", sockets.back()},
                                          {"VASKOR_SDK_PEER_TIMEOUT_MS", peerTimeout}});
            }));
            ASSERT_TRUE(nodes.back());
        }
        startedAt = steady_clock::now();
    }

    void TearDown() override {
        nodes.clear();
        machines.reset();
    }

    LobbyNode& host() { return *nodes[0]; }
    LobbyNode& member() { return *nodes[1]; }
    Nodes all() {
        Nodes alive;
        for (auto& node : nodes)
            if (node->alive())
                alive.push_back(node.get());
        return alive;
    }

    std::optional<sdk::transport::Route> hostRoute() {
        return sdk::transport::parseRoute(host().node().route);
    }

    std::string hostSecret() {
        host().createLobby();
        host().run();
        EXPECT_TRUE(host().connected());
        return host().secret();
    }

    std::unique_ptr<TestMachines> machines;
    std::vector<std::string> sockets;
    std::vector<std::unique_ptr<LobbyNode>> nodes;
    steady_clock::time_point startedAt;
};

TEST_P(RouterJoinTest, MemberReachesTheHostAtTheMappedEndpoint) {
    start(GetParam().mapping, GetParam().memberRouter);
    if (IsSkipped() || HasFatalFailure())
        return;
    const std::string routerAddress = TestMachines::routerAddress(1);
    ASSERT_TRUE(pumpUntil(
        all(),
        [&] {
            const auto route = hostRoute();
            return route && route->endpoints.front().toString().starts_with(routerAddress + ":");
        },
        15s))
        << "the host's route never named its router: " << host().node().route << "\n"
        << fileText(machines->routerLog(1));
    std::cout << GetParam().name << ": the host's route names its mapped endpoint after "
              << millisecondsOf(steady_clock::now() - startedAt) << " ms" << std::endl;
    const auto mapped = hostRoute()->endpoints.front();
    EXPECT_NE(fileText(machines->routerLog(1)).find(GetParam().logged), std::string::npos)
        << fileText(machines->routerLog(1));
    // What the router logs of a host that asks it, and what the test of a
    // host that must not ask looks for.
    EXPECT_NE(fileText(machines->routerLog(1)).find("from " + machines->addressOf(1)),
              std::string::npos)
        << fileText(machines->routerLog(1));

    const std::string secret = hostSecret();
    const auto parsed = sdk::lobby::parseJoinSecret(secret);
    ASSERT_TRUE(parsed);
    ASSERT_FALSE(parsed->endpoints.empty());
    EXPECT_EQ(parsed->endpoints.front(), mapped) << "the invitation names the mapping first";

    const auto connectCalled = steady_clock::now();
    member().connect(secret);
    ASSERT_TRUE(pumpUntil(
        all(), [&] { return member().completion.has_value(); }, 10s));
    ASSERT_TRUE(member().connected());
    std::cout << GetParam().name << ": join across two routers "
              << millisecondsOf(member().completedAt - connectCalled) << " ms" << std::endl;

    // Both ways: the member's change goes to the host and comes back.
    ASSERT_EQ(member().update({{"seen", "yes"}}), Result::Ok);
    ASSERT_TRUE(pumpUntil(all(), [&] {
        return host().metadata(member().userId, "seen") == "yes" &&
               member().metadata(member().userId, "seen") == "yes";
    }));

    // The member's datagrams came in at the mapped port, from its router.
    const std::string port = std::to_string(mapped.port);
    EXPECT_TRUE(
        machines->shell("ip netns exec " + machines->routerName(1) +
                        " conntrack -L -p udp --orig-dst " + routerAddress + " --dport " + port +
                        " 2>/dev/null | grep -q 'src=" + TestMachines::routerAddress(2) + " '"));

    // The mapping goes with the host's core.
    const std::string forwarded = "nft list chain inet filter prerouting_miniupnpd | grep -q "
                                  "' dport " +
                                  port + " dnat '";
    ASSERT_TRUE(machines->shell("ip netns exec " + machines->routerName(1) + " " + forwarded));
    host().destroy();
    EXPECT_TRUE(machines->shell("! ip netns exec " + machines->routerName(1) + " " + forwarded));
}

constexpr const char* caseNames[] = {"Upnp", "NatPmpOnly", "UpnpMemberRandomPorts"};

// A member whose router takes a new port per destination reaches a mapped
// host all the same: the host answers where the datagrams came from.
INSTANTIATE_TEST_SUITE_P(
    Routers, RouterJoinTest,
    ::testing::Values(RouterCase{"UPnP IGD", Mapping::upnp, "AddPortMapping: ext port"},
                      RouterCase{"NAT-PMP only", Mapping::natpmp, "NAT-PMP port mapping request"},
                      RouterCase{"UPnP IGD, member behind random ports", Mapping::upnp,
                                 "AddPortMapping: ext port", Translation::random}),
    [](const auto& info) { return std::string(caseNames[info.index]); });

class FirstInvitationTest : public RouterJoinTest {};

// People press Host and then Invite at once: the invitation is asked for
// while the port mapping attempt is still under way. It waits for the
// attempt, so the first one already names the mapped endpoint, and a member
// behind another router joins with it.
TEST_F(FirstInvitationTest, InvitationAskedForAtOnceNamesTheMappedEndpoint) {
    start(Mapping::upnp);
    if (IsSkipped() || HasFatalFailure())
        return;
    host().createLobby();
    host().run();
    ASSERT_TRUE(host().connected());
    const std::string routerAddress = TestMachines::routerAddress(1);
    const auto early = sdk::lobby::parseJoinSecret(host().secret());
    ASSERT_TRUE(early);
    ASSERT_FALSE(early->endpoints.front().toString().starts_with(routerAddress + ":"))
        << "the mapping was made before the invitation was asked for: nothing to wait for";
    discord::Activity activity;
    activity.GetSecrets().SetJoin(host().secret().c_str());
    host().core().ActivityManager().UpdateActivity(activity, {});
    const auto asked = steady_clock::now();
    host().core().OverlayManager().OpenActivityInvite(discord::ActivityActionType::Join, {});

    auto command = testsupport::runCommand("ip netns exec " + machines->name(1) + " " +
                                           VASKOR_SDK_CLIENT_PROGRAM +
                                           " invitation --timeout 10 --socket " + sockets[0]);
    while (command.wait_for(0s) != std::future_status::ready)
        pumpFor(all(), 2ms);
    const auto shown = command.get();
    ASSERT_EQ(shown.status, 0) << shown.output;
    std::string invitation = shown.output;
    invitation.erase(invitation.find_last_not_of(" \n") + 1);
    std::cout << "the first invitation came " << millisecondsOf(steady_clock::now() - asked)
              << " ms after it was asked for" << std::endl;
    const auto parsed = sdk::lobby::parseJoinSecret(invitation);
    ASSERT_TRUE(parsed) << invitation;
    EXPECT_TRUE(parsed->endpoints.front().toString().starts_with(routerAddress + ":"))
        << "the first invitation does not name the mapped endpoint first: "
        << parsed->endpoints.front().toString();

    member().connect(invitation);
    ASSERT_TRUE(pumpUntil(
        all(), [&] { return member().completion.has_value(); }, 10s));
    EXPECT_TRUE(member().connected());
}

class UnreachableHostTest : public RouterJoinTest {};

TEST_F(UnreachableHostTest, PortMappingTurnedOffAsksNothingOfAMappingRouter) {
    start(Mapping::upnp, Translation::keep, "off");
    if (IsSkipped() || HasFatalFailure())
        return;
    // Longer than a mapping takes when it is on (about a second).
    pumpFor(all(), 2500ms);
    const auto route = hostRoute();
    ASSERT_TRUE(route);
    ASSERT_EQ(route->endpoints.size(), 1u) << host().node().route;
    EXPECT_EQ(route->endpoints.front().toString().rfind(machines->addressOf(1) + ":", 0), 0u);
    const std::string log = fileText(machines->routerLog(1));
    EXPECT_EQ(log.find("from " + machines->addressOf(1)), std::string::npos) << log;
}

TEST_F(UnreachableHostTest, TheMembersClientSaysWhatTheHostsRouterNeeds) {
    start(Mapping::none);
    if (IsSkipped() || HasFatalFailure())
        return;
    const std::string secret = hostSecret();
    const auto parsed = sdk::lobby::parseJoinSecret(secret);
    ASSERT_TRUE(parsed);
    // Nothing mapped: the host offers its own address alone.
    ASSERT_EQ(parsed->endpoints.size(), 1u);
    const std::string port = std::to_string(parsed->endpoints.front().port);

    member().core().ActivityManager().OnActivityJoin.Connect(
        [this](const char* given) { member().connect(given); });
    auto command = testsupport::runCommand("ip netns exec " + machines->name(2) + " " +
                                           VASKOR_SDK_CLIENT_PROGRAM + " join " + secret +
                                           " --timeout 20 --socket " + sockets[1] + " 2>&1");
    while (command.wait_for(0s) != std::future_status::ready)
        pumpFor(all(), 2ms);
    const auto given = command.get();
    ASSERT_TRUE(member().completion);
    EXPECT_EQ(member().completion->result, Result::NetworkError);
    EXPECT_NE(given.status, 0);
    EXPECT_NE(given.output.find("its router needs UPnP or NAT-PMP turned on, or UDP port " + port +
                                " forwarded to the host's computer"),
              std::string::npos)
        << given.output;
    // Within the time-out (and the pump's step), not later.
    const auto tried = member().completedAt - startedAt;
    EXPECT_LT(tried, milliseconds(std::stoi(peerTimeout)) + 2s) << millisecondsOf(tried) << " ms";
}

} // namespace
