// A peer that both the lobby and the program use: either may open it first,
// and it stays until both have closed it.

#include "tests/sdk/transport/TransportTestSupport.h"

using namespace transporttest;

namespace {

TEST(PeerUse, ProgramTakesOverAPeerTheKeyFilterLetInOrTheLobbyOpened) {
    auto host = makeNode();
    auto member = makeNode();
    const auto memberKey = member->transport->publicKey();
    host->transport->setKeyFilter([&](const PublicKey& key) {
        return key == memberKey ? KeyAccess::member : KeyAccess::refused;
    });
    pumpUntil({host.get(), member.get()}, [&] { return !host->events.route.empty(); });

    // The lobby opens the host; the host lets the member in by its key.
    const PeerId hostId = host->transport->peerId();
    const PeerId memberId = member->transport->peerId();
    ASSERT_EQ(member->transport->openPeer(hostId, host->events.route, PeerUse::lobby),
              TransportStatus::ok);
    ASSERT_TRUE(pumpUntil({host.get(), member.get()},
                          [&] { return host->transport->isConnected(memberId); }));
    EXPECT_FALSE(host->transport->isOpenedBy(memberId, PeerUse::program));
    EXPECT_EQ(host->transport->keyOf(memberId), memberKey);

    // The program opens both as if it knew nothing of the lobby.
    const auto otherKey = KeyPair::generate().publicKey;
    EXPECT_EQ(host->transport->openPeer(
                  memberId, formatRoute(Route{otherKey, {endpointOf(*member->transport)}})),
              TransportStatus::invalidRoute)
        << "taking a peer over still needs its key";
    EXPECT_EQ(host->transport->openPeer(memberId, member->events.route), TransportStatus::ok);
    EXPECT_EQ(member->transport->openPeer(hostId, host->events.route), TransportStatus::ok);
    EXPECT_EQ(member->transport->openPeer(hostId, host->events.route), TransportStatus::peerExists);

    // The lobby lets go of the host: the program's peer stays and works.
    ASSERT_EQ(member->transport->closePeer(hostId, PeerUse::lobby), TransportStatus::ok);
    EXPECT_TRUE(member->transport->isOpenedBy(hostId, PeerUse::program));
    ASSERT_EQ(member->transport->openChannel(hostId, Channel{0, false}, Reliability::reliable),
              TransportStatus::ok);
    ASSERT_EQ(host->transport->openChannel(memberId, Channel{0, false}, Reliability::reliable),
              TransportStatus::ok);
    const std::vector<std::uint8_t> hello{1, 2, 3};
    ASSERT_EQ(member->transport->send(hostId, Channel{0, false}, hello), TransportStatus::ok);
    ASSERT_TRUE(
        pumpUntil({host.get(), member.get()}, [&] { return !host->events.messages.empty(); }));
    EXPECT_EQ(host->events.messages.back().bytes, hello);

    // The program closes it too: now it is gone.
    ASSERT_EQ(member->transport->closePeer(hostId), TransportStatus::ok);
    EXPECT_EQ(member->transport->keyOf(hostId), std::nullopt);
}

} // namespace
