// A hostile member between network namespaces: it publishes one fresh key
// after another as its peer id, with routes that name a machine outside the
// lobby, and its own key at that machine's endpoints. The host and a member
// open peers from metadata as the engine does. The outside machine hears at
// most the unproven budget of each core while the liar is in, and nothing at
// all once it has left.

#include "sdk/transport/Keys.h"
#include "sdk/transport/Route.h"
#include "sdk/transport/Transport.h"
#include "tests/support/LobbyNodes.h"
#include "tests/support/TestMachines.h"
#include "tests/support/TestUdpSocket.h"

#include <arpa/inet.h>

#include <iostream>
#include <set>

using namespace lobbytest;
using testsupport::TestMachines;
using namespace std::chrono;
using namespace std::chrono_literals;

namespace {

// What the engine does with a member's metadata: a peer for every peer id
// with a route, opened once and updated after.
class EngineLikePeers {
public:
    explicit EngineLikePeers(LobbyNode& node) : node(node) {
        node.lobbies().OnMemberUpdate.Connect([this](LobbyId, UserId user) { update(user); });
    }
    int refused = 0;

private:
    void update(UserId user) {
        const auto peerText = node.metadata(user, "$net.peer_id");
        const auto route = node.metadata(user, "$net.route");
        if (!peerText || !route || peerText->empty() || route->empty())
            return;
        const auto peer = static_cast<discord::NetworkPeerId>(std::stoull(*peerText));
        auto& network = node.node().network();
        Result result;
        if (known.contains(peer)) {
            result = network.UpdatePeer(peer, route->c_str());
        } else {
            known.insert(peer);
            result = network.OpenPeer(peer, route->c_str());
            network.OpenChannel(peer, 0, false);
            network.OpenChannel(peer, 1, true);
        }
        refused += result == Result::Ok ? 0 : 1;
    }

    LobbyNode& node;
    std::set<discord::NetworkPeerId> known;
};

std::uint32_t hostOrder(const std::string& address) {
    return ntohl(inet_addr(address.c_str()));
}

TEST(MemberPeersNetns, FakeKeysAndForeignRoutesReachNoOneOutsideTheLobby) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to create network namespaces";
    TestMachines machines(4); // host, member, liar, and a machine outside the lobby
    ASSERT_TRUE(machines.ready);
    std::vector<std::unique_ptr<LobbyNode>> nodes;
    for (int i = 1; i <= 3; ++i) {
        nodes.push_back(machines.inside(i, [&] {
            return LobbyNode::create({{"VASKOR_SDK_ADDRESSES", TestMachines::address(i)},
                                      {"VASKOR_SDK_PORT_MAPPING", "off"},
                                      {"VASKOR_SDK_PEER_TIMEOUT_MS", "1500"},
                                      {"VASKOR_SDK_KEEPALIVE_MS", "300"}});
        }));
        ASSERT_TRUE(nodes.back());
    }
    LobbyNode& host = *nodes[0];
    LobbyNode& member = *nodes[1];
    LobbyNode& liar = *nodes[2];
    std::vector<std::unique_ptr<testsupport::TestUdpSocket>> outside;
    for (int i = 0; i < 16; ++i)
        outside.push_back(machines.inside(4, [] {
            return std::make_unique<testsupport::TestUdpSocket>(
                hostOrder(TestMachines::address(4)));
        }));
    std::vector<sdk::transport::Endpoint> outsideEndpoints;
    for (const auto& socket : outside)
        outsideEndpoints.emplace_back(hostOrder(TestMachines::address(4)), socket->port());
    std::size_t heard = 0;
    const auto drain = [&] {
        for (auto& socket : outside)
            while (socket->receive())
                ++heard;
    };

    EngineLikePeers hostPeers(host);
    EngineLikePeers memberPeers(member);
    Nodes lobby{&host, &member, &liar};
    ASSERT_TRUE(pumpUntil(lobby, [&] {
        return std::ranges::all_of(lobby, [](LobbyNode* n) { return !n->node().route.empty(); });
    }));
    host.createLobby();
    host.run();
    ASSERT_TRUE(host.connected());
    for (auto* joining : {&member, &liar}) {
        joining->connect(host.secret());
        ASSERT_TRUE(pumpUntil(lobby, [&] { return joining->completion.has_value(); }));
        ASSERT_TRUE(joining->connected());
    }
    for (auto* node : lobby) {
        const auto peerId = std::to_string(node->node().peerId);
        ASSERT_EQ(node->update({{"$net.peer_id", peerId.c_str()},
                                {"$net.route", node->node().route.c_str()}}),
                  Result::Ok);
    }
    ASSERT_TRUE(pumpUntil(lobby, [&] {
        return std::ranges::all_of(lobby, [&](LobbyNode* n) {
            return n->node().network().SendMessage(liar.node().peerId, 0,
                                                   reinterpret_cast<const std::uint8_t*>("x"),
                                                   1) == Result::Ok ||
                   n == &liar;
        });
    }));

    // The liar's stay: 40 fresh keys, each with a route to the outside
    // machine, and its own key at the outside machine's endpoints between.
    const auto started = steady_clock::now();
    const std::string ownKeyOutside = sdk::transport::formatRoute(sdk::transport::Route{
        sdk::transport::parseRoute(liar.node().route)->key, outsideEndpoints});
    int published = 0;
    for (int i = 0; i < 40; ++i) {
        const auto fake = sdk::transport::KeyPair::generate().publicKey;
        const auto fakeId = std::to_string(sdk::transport::peerIdOf(fake));
        const auto route =
            sdk::transport::formatRoute(sdk::transport::Route{fake, outsideEndpoints});
        ASSERT_EQ(liar.update({{"$net.peer_id", fakeId.c_str()}, {"$net.route", route.c_str()}}),
                  Result::Ok);
        // Both cores saw the fake key (the engine reads metadata at the event).
        ASSERT_TRUE(pumpUntil(lobby, [&] {
            return host.metadata(liar.userId, "$net.peer_id") == fakeId &&
                   member.metadata(liar.userId, "$net.peer_id") == fakeId;
        }));
        const auto ownId = std::to_string(liar.node().peerId);
        ASSERT_EQ(
            liar.update({{"$net.peer_id", ownId.c_str()},
                         {"$net.route", (i % 2 ? liar.node().route : ownKeyOutside).c_str()}}),
            Result::Ok);
        published += 2;
        pumpFor(lobby, 100ms);
        drain();
    }
    drain();
    const double stay = duration<double>(steady_clock::now() - started).count();
    const std::size_t heardWhileIn = heard;
    // Two cores each hold one peer for the liar; nothing else may go outside.
    const double bound = 2 * (sdk::transport::UnprovenBudget::burst +
                              sdk::transport::UnprovenBudget::perSecond * stay);
    std::cout << "outside machine heard " << heardWhileIn << " datagrams in " << stay
              << " s while the liar was in (" << published << " metadata updates); bound " << bound
              << std::endl;
    EXPECT_LE(static_cast<double>(heardWhileIn), bound);
    EXPECT_EQ(hostPeers.refused, 40) << "every fake key is refused";
    EXPECT_EQ(memberPeers.refused, 40) << "every fake key is refused";

    // The liar goes silent: once the others have removed it, nothing more.
    liar.destroy();
    Nodes staying{&host, &member};
    ASSERT_TRUE(pumpUntil(
        staying, [&] { return !member.eventsOf("disconnect").empty(); }, 5s));
    drain();
    heard = 0;
    pumpFor(staying, 3s);
    drain();
    std::cout << "outside machine heard " << heard << " datagrams in the 3 s after the liar left"
              << std::endl;
    EXPECT_EQ(heard, 0u) << "a member that left is still asked for";
}

} // namespace
