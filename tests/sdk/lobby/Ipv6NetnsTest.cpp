// IPv6 only: a host and a member, each behind a stateful firewall that lets
// answers in and nothing new. The host's firewall has the port of its game
// SDK opened, as hosting behind such a firewall needs: a host cannot open a
// member that has not joined (only members become peers), so the member must
// reach it first. The member's firewall sees its own side go first and lets
// the host's answers and traffic in.

#include "sdk/lobby/JoinSecret.h"
#include "tests/support/LobbyNodes.h"
#include "tests/support/RunCommand.h"
#include "tests/support/TestMachines.h"

#include <iostream>
#include <sstream>

using namespace lobbytest;
using testsupport::runCommand;
using testsupport::TestMachines;
using namespace std::chrono;
using namespace std::chrono_literals;

namespace {

class Ipv6NetnsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root to create network namespaces";
        machines = TestMachines::ipv6BehindFirewalls(2);
        ASSERT_TRUE(machines->ready);
        for (int i = 1; i <= 2; ++i) {
            sockets.push_back("/tmp/vaskor-ipv6-netns-" + std::to_string(getpid()) + "-" +
                              std::to_string(i) + ".sock");
            nodes.push_back(machines->inside(i, [&] {
                return LobbyNode::create({{"VASKOR_SDK_ADDRESSES", machines->addressOf(i)},
                                          {"VASKOR_SDK_USER_NAME", nameOf(i)},
                                          {"VASKOR_SDK_CONTROL_SOCKET", sockets.back()},
                                          {"VASKOR_SDK_PORT_MAPPING", "off"}});
            }));
            ASSERT_TRUE(nodes.back());
        }
    }

    void TearDown() override {
        nodes.clear();
        machines.reset();
    }

    Nodes all() { return {nodes[0].get(), nodes[1].get()}; }

    static std::string nameOf(int machine) { return "machine " + std::to_string(machine); }

    // `vaskor-sdk-client members` on a machine: the line of another machine's user.
    std::string memberLine(int machine, int other) {
        auto command =
            runCommand("ip netns exec " + machines->name(machine) + " " +
                       VASKOR_SDK_CLIENT_PROGRAM + " members --socket " + sockets.at(machine - 1));
        while (command.wait_for(0s) != std::future_status::ready)
            pumpFor(all(), 2ms);
        const auto result = command.get();
        EXPECT_EQ(result.status, 0) << result.output;
        std::istringstream lines(result.output);
        std::string line;
        while (std::getline(lines, line))
            if (line.starts_with(nameOf(other) + "\t"))
                return line;
        return {};
    }

    std::unique_ptr<TestMachines> machines;
    std::vector<std::string> sockets;
    std::vector<std::unique_ptr<LobbyNode>> nodes;
};

TEST_F(Ipv6NetnsTest, HostAndMemberBehindFirewallsJoinDirectly) {
    LobbyNode& host = *nodes[0];
    LobbyNode& member = *nodes[1];
    ASSERT_TRUE(pumpUntil(
        all(), [&] { return !host.node().route.empty() && !member.node().route.empty(); }, 5s));
    EXPECT_NE(member.node().route.find(" [" + TestMachines::ipv6Address(2) + "]:"),
              std::string::npos)
        << member.node().route;

    host.createLobby();
    host.run();
    ASSERT_TRUE(host.connected());
    const auto secret = sdk::lobby::parseJoinSecret(host.secret());
    ASSERT_TRUE(secret);
    ASSERT_EQ(secret->endpoints.size(), 1u);
    EXPECT_EQ(secret->endpoints[0].toString().rfind("[" + TestMachines::ipv6Address(1) + "]:", 0),
              0u)
        << "the invitation names the host's IPv6 endpoint";

    ASSERT_TRUE(machines->shell("ip netns exec " + machines->routerName(1) +
                                " nft add rule inet filter forward ip6 daddr " +
                                TestMachines::ipv6Address(1) + " udp dport " +
                                std::to_string(secret->endpoints[0].port) + " accept"));

    const auto asked = steady_clock::now();
    member.connect(host.secret());
    ASSERT_TRUE(pumpUntil(
        all(), [&] { return member.completion.has_value(); }, 12s));
    ASSERT_TRUE(member.connected());
    std::cout << "member joined through both firewalls in "
              << duration_cast<microseconds>(member.completedAt - asked).count() / 1000.0 << " ms"
              << std::endl;

    // The path is the direct IPv6 one, with a live round trip.
    const std::string expected = nameOf(2) + "\tdirect\t[" + TestMachines::ipv6Address(2) + "]:";
    std::string line;
    const auto end = steady_clock::now() + 10s;
    while (steady_clock::now() < end) {
        pumpFor(all(), 200ms);
        line = memberLine(1, 2);
        if (line.starts_with(expected) && !line.ends_with("\t-"))
            break;
    }
    EXPECT_TRUE(line.starts_with(expected)) << line;
    EXPECT_FALSE(line.ends_with("\t-")) << "a round trip was measured: " << line;
    std::cout << "host sees: " << line << std::endl;
    EXPECT_TRUE(member.eventsOf("disconnect").empty());
}

} // namespace
