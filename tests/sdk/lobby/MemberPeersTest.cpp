// In a lobby a peer is a member: the program opens and updates only members'
// peers, at routes with the member's own key that no other member published
// in its stead; a member admitted again is served again once the program
// updates it, on the channels it had. Cores of one process on loopback.

#include "sdk/transport/Keys.h"
#include "sdk/transport/Route.h"
#include "tests/support/LobbyNodes.h"

#include <algorithm>

using namespace lobbytest;
using namespace std::chrono_literals;

namespace {

const std::pair<std::string, std::string> shortTimeout{"VASKOR_SDK_PEER_TIMEOUT_MS", "1500"};
const std::pair<std::string, std::string> quickKeepAlive{"VASKOR_SDK_KEEPALIVE_MS", "300"};

std::string routeWithKeyOf(const std::string& keyOwner, const std::string& endpointsOf) {
    auto owner = sdk::transport::parseRoute(keyOwner);
    auto endpoints = sdk::transport::parseRoute(endpointsOf);
    EXPECT_TRUE(owner && endpoints);
    if (!owner || !endpoints)
        return {};
    return sdk::transport::formatRoute(sdk::transport::Route{owner->key, endpoints->endpoints});
}

class MemberPeersTest : public LobbyFixture {
protected:
    void SetUp() override { host(8, {shortTimeout, quickKeepAlive}); }

    void waitForRoutes(const Nodes& nodes) {
        ASSERT_TRUE(pumpUntil(nodes, [&] {
            return std::ranges::all_of(nodes,
                                       [](LobbyNode* n) { return !n->node().route.empty(); });
        }));
    }
    // Every member sees `value` under `key` in `publisher`'s metadata.
    void publish(LobbyNode& publisher, const char* key, const std::string& value) {
        ASSERT_EQ(publisher.update({{key, value.c_str()}}), Result::Ok);
        ASSERT_TRUE(pumpUntil(all(), [&] {
            return std::ranges::all_of(
                all(), [&](LobbyNode* n) { return n->metadata(publisher.userId, key) == value; });
        }));
    }
};

struct OpenCase {
    const char* what;
    std::function<std::pair<discord::NetworkPeerId, std::string>(LobbyNode& host, LobbyNode& liar,
                                                                 LobbyNode& outsider)>
        peer;
    Result expected;
};

TEST_F(MemberPeersTest, OnlyMembersAtRoutesOfTheirOwnAreOpenedOrUpdated) {
    auto& member = join({shortTimeout, quickKeepAlive});
    auto& liar = join({shortTimeout, quickKeepAlive});
    auto outsider = LobbyNode::create({shortTimeout});
    Nodes nodes{hostNode.get(), &member, &liar, outsider.get()};
    waitForRoutes(nodes);
    publish(*hostNode, "$net.route", hostNode->node().route);
    // The liar publishes the host's key at its own endpoint as a route.
    const std::string hostKeyAtLiar = routeWithKeyOf(hostNode->node().route, liar.node().route);
    publish(liar, "$net.route", hostKeyAtLiar);

    const std::vector<OpenCase> cases{
        {"a core outside the lobby",
         [](LobbyNode&, LobbyNode&, LobbyNode& outsider) {
             return std::pair{outsider.node().peerId, outsider.node().route};
         },
         Result::NotFound},
        {"the host's key at the liar's endpoint, as the liar published it",
         [&](LobbyNode& host, LobbyNode&, LobbyNode&) {
             return std::pair{host.node().peerId, hostKeyAtLiar};
         },
         Result::InvalidRoute},
        {"a member's peer id with another member's route",
         [](LobbyNode& host, LobbyNode& liar, LobbyNode&) {
             return std::pair{host.node().peerId, liar.node().route};
         },
         Result::InvalidRoute},
        {"the liar at its own route",
         [](LobbyNode&, LobbyNode& liar, LobbyNode&) {
             return std::pair{liar.node().peerId, liar.node().route};
         },
         Result::Ok},
        {"the host at the route it published",
         [](LobbyNode& host, LobbyNode&, LobbyNode&) {
             return std::pair{host.node().peerId, host.node().route};
         },
         Result::Ok},
    };
    auto& network = member.node().network();
    const std::uint8_t zero = 0;
    for (const auto& c : cases) {
        const auto [peer, route] = c.peer(*hostNode, liar, *outsider);
        EXPECT_EQ(network.OpenPeer(peer, route.c_str()), c.expected) << c.what;
        EXPECT_EQ(network.UpdatePeer(peer, route.c_str()), c.expected) << c.what;
    }
    // Nothing was opened for the outsider: nobody sends to it.
    EXPECT_EQ(network.SendMessage(outsider->node().peerId, 0, &zero, 1), Result::NotFound);

    // The member still reaches the host where the host is.
    ASSERT_EQ(network.OpenChannel(hostNode->node().peerId, 0, false), Result::Ok);
    const std::uint8_t byte = 9;
    EXPECT_TRUE(pumpUntil(nodes, [&] {
        network.SendMessage(hostNode->node().peerId, 0, &byte, 1);
        return std::ranges::any_of(hostNode->node().received, [&](const sdktest::Received& r) {
            return r.peer == member.node().peerId;
        });
    }));
}

TEST_F(MemberPeersTest, AMemberAdmittedAgainIsServedAgainOnceTheProgramUpdatesIt) {
    auto& leaving = join({shortTimeout, quickKeepAlive});
    auto& staying = join({shortTimeout, quickKeepAlive});
    waitForRoutes(all());
    for (auto* node : all())
        for (auto* other : all())
            if (node != other)
                node->node().open(other->node());
    const std::uint8_t byte = 3;
    const auto hears = [&](LobbyNode& to, LobbyNode& from) {
        return std::ranges::any_of(to.node().received, [&](const sdktest::Received& r) {
            return r.peer == from.node().peerId;
        });
    };
    ASSERT_TRUE(pumpUntil(all(), [&] {
        staying.node().network().SendMessage(leaving.node().peerId, 1, &byte, 1);
        return hears(leaving, staying);
    }));

    // It stalls past the time-out: the others remove it and forget its peer.
    Nodes others{hostNode.get(), &staying};
    ASSERT_TRUE(pumpUntil(
        others, [&] { return !staying.eventsOf("disconnect").empty(); }, 4000ms));
    EXPECT_NE(staying.node().network().SendMessage(leaving.node().peerId, 1, &byte, 1), Result::Ok)
        << "a member that left is still served";
    // Not a member: the program cannot bring it back.
    EXPECT_EQ(
        staying.node().network().UpdatePeer(leaving.node().peerId, leaving.node().route.c_str()),
        Result::NotFound);
    ASSERT_TRUE(pumpUntil(
        all(), [&] { return !leaving.eventsOf("delete").empty(); }, 5000ms));

    // Admitted again with the same key: the program's update opens it again,
    // with the channels the program had opened, and traffic flows both ways.
    leaving.completion.reset();
    leaving.node().received.clear();
    staying.node().received.clear();
    leaving.connect(hostNode->secret());
    ASSERT_TRUE(pumpUntil(all(), [&] { return leaving.connected(); }));
    ASSERT_TRUE(pumpUntil(all(), [&] { return staying.memberIds().size() == 3; }));
    ASSERT_EQ(
        staying.node().network().UpdatePeer(leaving.node().peerId, leaving.node().route.c_str()),
        Result::Ok);
    ASSERT_EQ(
        leaving.node().network().UpdatePeer(staying.node().peerId, staying.node().route.c_str()),
        Result::Ok);
    EXPECT_TRUE(pumpUntil(all(), [&] {
        staying.node().network().SendMessage(leaving.node().peerId, 1, &byte, 1);
        leaving.node().network().SendMessage(staying.node().peerId, 1, &byte, 1);
        return hears(leaving, staying) && hears(staying, leaving);
    })) << "a member admitted again was not served again";
}

} // namespace
