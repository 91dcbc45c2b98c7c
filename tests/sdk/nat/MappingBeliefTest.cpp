// What the router says about the public address is checked against what
// peers see. Until a peer has confirmed it, the mapped endpoint does not push
// the host's other IPv4 endpoints out of the invitation (a secret with an
// IPv6 endpoint has room for one IPv4 one); once confirmed it leads the
// invitation beside the IPv6 one. A gateway whose claimed address peers see
// otherwise is not believed: its mapping leaves the route.

#include "sdk/lobby/JoinSecret.h"
#include "sdk/transport/Route.h"
#include "tests/support/LobbyNodes.h"
#include "tests/support/TestMachines.h"

using namespace lobbytest;
using namespace std::chrono_literals;
using sdk::transport::Endpoint;
using testsupport::Mapping;
using testsupport::TestMachines;
using testsupport::Translation;

namespace {

bool named(const std::vector<Endpoint>& endpoints, const std::string& address) {
    for (const auto& endpoint : endpoints)
        if (endpoint.toString().starts_with(address + ":") ||
            endpoint.toString().starts_with("[" + address + "]:"))
            return true;
    return false;
}

std::vector<Endpoint> routeOf(LobbyNode& node) {
    const auto route = sdk::transport::parseRoute(node.node().route);
    return route ? route->endpoints : std::vector<Endpoint>{};
}

std::vector<Endpoint> secretOf(LobbyNode& node) {
    const auto secret = sdk::lobby::parseJoinSecret(node.secret());
    return secret ? secret->endpoints : std::vector<Endpoint>{};
}

class MappingBeliefTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root to create network namespaces";
    }
    void TearDown() override {
        nodes.clear();
        machines.reset();
    }
    LobbyNode& add(int machine, const std::string& addresses, const char* mapping) {
        nodes.push_back(machines->inside(machine, [&] {
            return LobbyNode::create({{"VASKOR_SDK_ADDRESSES", addresses},
                                      {"VASKOR_SDK_PORT_MAPPING", mapping},
                                      {"VASKOR_SDK_PEER_TIMEOUT_MS", "3000"}});
        }));
        EXPECT_TRUE(nodes.back());
        return *nodes.back();
    }
    Nodes all() {
        Nodes out;
        for (auto& node : nodes)
            out.push_back(node.get());
        return out;
    }

    std::unique_ptr<TestMachines> machines;
    std::vector<std::unique_ptr<LobbyNode>> nodes;
};

TEST_F(MappingBeliefTest, UnconfirmedMappingLeavesTheHostsIpv4EndpointInTheInvitation) {
    machines = std::make_unique<TestMachines>(
        std::vector<testsupport::Router>{{Translation::keep, Mapping::upnp},
                                         {Translation::keep, Mapping::none}},
        std::vector<int>{1, 2});
    ASSERT_TRUE(machines->ready);
    const std::string lan = machines->addressOf(1);
    const std::string ipv6 = "2001:db8:1::11";
    ASSERT_TRUE(
        machines->shell("ip -n " + machines->name(1) + " addr add " + ipv6 + "/64 dev eth0 nodad"));
    auto& host = add(1, lan + "," + ipv6, "on");
    auto& member = add(2, machines->addressOf(2), "off");
    const std::string router = TestMachines::routerAddress(1);
    ASSERT_TRUE(pumpUntil(
        all(), [&] { return named(routeOf(host), router); }, 10s))
        << host.node().route;

    host.createLobby();
    host.run();
    ASSERT_TRUE(host.connected());
    const auto first = secretOf(host);
    ASSERT_FALSE(first.empty());
    EXPECT_TRUE(first.front().toString().starts_with(router + ":"));
    EXPECT_TRUE(named(first, lan)) << "the unconfirmed mapping pushed the host's own address out";

    // A member from outside joins with it and sees the host at its router's
    // address: the mapping is confirmed, and leads beside the IPv6 endpoint.
    member.connect(host.secret());
    ASSERT_TRUE(pumpUntil(
        all(), [&] { return member.completion.has_value(); }, 10s));
    ASSERT_TRUE(member.connected());
    ASSERT_TRUE(pumpUntil(
        all(), [&] { return named(secretOf(host), ipv6); }, 10s))
        << "the confirmed mapping never let the IPv6 endpoint in: " << host.node().route;
    const auto confirmed = secretOf(host);
    EXPECT_TRUE(confirmed.front().toString().starts_with(router + ":"));
}

// Machine 1's default gateway is machine 2, a second translation inside the
// home network that claims the public address 11.9.9.2 and grants mappings
// there, but passes the traffic on (translated) to the real router, which
// translates it to its own address. A host on the internet sees machine 1
// there: machine 1's core stops offering the mapping.
TEST_F(MappingBeliefTest, MappingThatPeersSeeElsewhereIsNotBelieved) {
    machines = std::make_unique<TestMachines>(
        std::vector<testsupport::Router>{{Translation::keep, Mapping::none}},
        std::vector<int>{1, 1, 0});
    ASSERT_TRUE(machines->ready);
    ASSERT_TRUE(machines->rogueGateway(2));
    const std::string rogue = machines->addressOf(2);
    ASSERT_TRUE(machines->shell(
        "ip netns exec " + machines->name(2) + " sysctl -qw net.ipv4.ip_forward=1 " +
        "net.ipv4.conf.all.send_redirects=0 net.ipv4.conf.eth0.send_redirects=0 && " +
        "ip netns exec " + machines->name(2) + " nft add rule inet filter postrouting ip saddr " +
        machines->addressOf(1) + " oifname eth0 masquerade && ip -n " + machines->name(1) +
        " route replace default via " + rogue));
    auto& behind = add(1, machines->addressOf(1), "on");
    auto& host = add(3, machines->addressOf(3), "off");
    ASSERT_TRUE(pumpUntil(
        all(), [&] { return named(routeOf(behind), "11.9.9.2"); }, 10s))
        << "the gateway's mapping was never taken: " << behind.node().route;

    host.createLobby();
    host.run();
    ASSERT_TRUE(host.connected());
    behind.connect(host.secret());
    ASSERT_TRUE(pumpUntil(
        all(), [&] { return behind.completion.has_value(); }, 10s));
    ASSERT_TRUE(behind.connected());
    EXPECT_TRUE(pumpUntil(
        all(), [&] { return !named(routeOf(behind), "11.9.9.2"); }, 10s))
        << "a mapping that the host sees otherwise is still offered: " << behind.node().route;
    EXPECT_TRUE(named(routeOf(behind), TestMachines::routerAddress(1)))
        << "where the host sees it is in the route: " << behind.node().route;
}

} // namespace
