// The transport on loopback: liveness, who gets an answer, replays, and the
// seam that the lobby layer will use.

#include "tests/sdk/transport/TransportTestSupport.h"

#include "sdk/transport/Handshake.h"

#include <random>

using namespace transporttest;

namespace {

constexpr Channel reliable{1, false};

std::pair<std::unique_ptr<TransportNode>, std::unique_ptr<TransportNode>>
openedPair(TransportSettings settings = loopbackSettings()) {
    auto a = makeNode(settings);
    auto b = makeNode(settings);
    for (auto* node : {a.get(), b.get()}) {
        auto* other = node == a.get() ? b.get() : a.get();
        EXPECT_EQ(node->transport->openPeer(other->transport->peerId(), other->transport->route()),
                  TransportStatus::ok);
        node->transport->openChannel(other->transport->peerId(), reliable, Reliability::reliable);
        node->transport->openChannel(other->transport->peerId(), Channel{0, false},
                                     Reliability::unreliable);
    }
    return {std::move(a), std::move(b)};
}

bool connect(TransportNode& a, TransportNode& b) {
    return pumpUntil({&a, &b}, [&] {
        return a.transport->isConnected(b.transport->peerId()) &&
               b.transport->isConnected(a.transport->peerId());
    });
}

TEST(Liveness, DestroyedPeerIsReportedLostAtOnce) {
    auto both = openedPair();
    auto& a = both.first;
    auto& b = both.second;
    ASSERT_TRUE(connect(*a, *b));
    const PeerId gone = b->transport->peerId();
    b->transport.reset();
    // The time-out is 10 s: only the close datagram can make this quick.
    ASSERT_TRUE(pumpUntil(
        {a.get()}, [&] { return !a->events.lost.empty(); }, std::chrono::milliseconds(1000)));
    EXPECT_EQ(a->events.lost, std::vector<PeerId>{gone});
    EXPECT_FALSE(a->transport->isConnected(gone));
}

TEST(Liveness, SilentPeerIsReportedLostAfterTheTimeoutOnly) {
    auto both = openedPair(loopbackSettings(Milliseconds(400)));
    auto& a = both.first;
    auto& b = both.second;
    ASSERT_TRUE(connect(*a, *b));
    // Idle but both polling: keep-alives hold the peers together.
    pumpUntil(
        {a.get(), b.get()}, [] { return false; }, std::chrono::milliseconds(700));
    EXPECT_TRUE(a->events.lost.empty());
    // b stops answering.
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(pumpUntil({a.get()}, [&] { return !a->events.lost.empty(); }));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
    EXPECT_EQ(a->events.lost.size(), 1u) << "reported once";
    // b comes back: the peer reconnects and what was queued arrives.
    const std::vector<std::uint8_t> late{4, 2};
    a->transport->send(b->transport->peerId(), reliable, late);
    ASSERT_TRUE(pumpUntil({a.get(), b.get()}, [&] { return !b->events.messages.empty(); }));
    EXPECT_EQ(b->events.messages.back().bytes, late);
}

TEST(Liveness, PeerThatNeverAnswersIsReportedAfterTheTimeout) {
    auto a = makeNode(loopbackSettings(Milliseconds(300)));
    RawSocket silent;
    const KeyPair other = KeyPair::generate();
    const PeerId id = peerIdOf(other.publicKey);
    ASSERT_EQ(a->transport->openPeer(id, formatRoute(Route{other.publicKey, {silent.endpoint()}})),
              TransportStatus::ok);
    ASSERT_TRUE(pumpUntil({a.get()}, [&] { return !a->events.lost.empty(); }));
    EXPECT_EQ(a->events.lost, std::vector<PeerId>{id});
    EXPECT_TRUE(silent.receive()) << "it was asked";
}

TEST(Admission, HandshakeFromAKeyNotAcceptedGetsNoAnswer) {
    auto a = makeNode();
    RawSocket stranger;
    const KeyPair strangerKeys = KeyPair::generate();
    const auto initiation = makeInitiation(strangerKeys, a->transport->publicKey(), 1, 1, 1, 3);
    stranger.sendTo(endpointOf(*a->transport), initiation.datagram);
    pumpUntil(
        {a.get()}, [] { return false; }, std::chrono::milliseconds(100));
    EXPECT_FALSE(stranger.receive()) << "answered a key it never accepted";

    // The lobby layer's filter lets the same key in: now it is answered.
    a->transport->setKeyFilter([&](const PublicKey& key) {
        return key == strangerKeys.publicKey ? KeyAccess::member : KeyAccess::refused;
    });
    const auto again = makeInitiation(strangerKeys, a->transport->publicKey(), 2, 2, 1, 3);
    stranger.sendTo(endpointOf(*a->transport), again.datagram);
    std::optional<std::vector<std::uint8_t>> answer;
    pumpUntil({a.get()}, [&] { return (answer = stranger.receive()).has_value(); });
    ASSERT_TRUE(answer);
    EXPECT_TRUE(acceptResponse(strangerKeys, a->transport->publicKey(), again.pending, *answer));

    // The same initiation again is a replay: no second answer.
    stranger.sendTo(endpointOf(*a->transport), again.datagram);
    pumpUntil(
        {a.get()}, [] { return false; }, std::chrono::milliseconds(100));
    EXPECT_FALSE(stranger.receive());
}

TEST(Admission, RandomBytesChangeNothingAndGetNoAnswer) {
    auto both = openedPair();
    auto& a = both.first;
    auto& b = both.second;
    ASSERT_TRUE(connect(*a, *b));
    RawSocket stranger;
    std::mt19937 random(99);
    for (int i = 0; i < 3000; ++i) {
        std::vector<std::uint8_t> junk(random() % 1600);
        for (auto& byte : junk)
            byte = static_cast<std::uint8_t>(random());
        if (!junk.empty() && i % 3 == 0)
            junk[0] = static_cast<std::uint8_t>(1 + i % 3); // look like our datagrams
        stranger.sendTo(endpointOf(*b->transport), junk);
        if (i % 100 == 0)
            b->poll();
    }
    pumpUntil(
        {a.get(), b.get()}, [] { return false; }, std::chrono::milliseconds(100));
    EXPECT_FALSE(stranger.receive());
    EXPECT_TRUE(b->events.messages.empty());
    EXPECT_TRUE(b->events.lost.empty());
    const std::vector<std::uint8_t> after{1};
    a->transport->send(b->transport->peerId(), reliable, after);
    EXPECT_TRUE(pumpUntil({a.get(), b.get()}, [&] { return b->events.messages.size() == 1; }));
}

// Relays a's datagrams to b and keeps copies, so they can be sent again.
TEST(Replay, CapturedDatagramsSentAgainAreNotDeliveredTwice) {
    auto a = makeNode();
    auto b = makeNode();
    RawSocket relay;
    std::optional<Endpoint> aSide;
    std::vector<std::vector<std::uint8_t>> captured;
    const auto forward = [&] {
        Endpoint from;
        while (auto datagram = relay.receive(&from)) {
            if (from == endpointOf(*b->transport)) {
                if (aSide)
                    relay.sendTo(*aSide, *datagram);
            } else {
                aSide = from;
                captured.push_back(*datagram);
                relay.sendTo(endpointOf(*b->transport), *datagram);
            }
        }
    };
    ASSERT_EQ(
        a->transport->openPeer(b->transport->peerId(), routeAt(*b->transport, {relay.endpoint()})),
        TransportStatus::ok);
    a->transport->openChannel(b->transport->peerId(), reliable, Reliability::reliable);
    a->transport->openChannel(b->transport->peerId(), Channel{0, false}, Reliability::unreliable);
    b->transport->openPeer(a->transport->peerId(), a->transport->route());
    for (std::uint8_t i = 0; i < 20; ++i)
        a->transport->send(b->transport->peerId(), reliable, std::vector<std::uint8_t>{i});
    ASSERT_TRUE(pumpUntil(
        {a.get(), b.get()}, [&] { return b->events.messages.size() == 20; },
        std::chrono::milliseconds(5000), forward));
    for (std::uint8_t i = 0; i < 20; ++i)
        a->transport->send(b->transport->peerId(), Channel{0, false},
                           std::vector<std::uint8_t>{static_cast<std::uint8_t>(100 + i)});
    ASSERT_TRUE(pumpUntil(
        {a.get(), b.get()}, [&] { return b->events.messages.size() == 40; },
        std::chrono::milliseconds(5000), forward));

    for (const auto& datagram : captured)
        relay.sendTo(endpointOf(*b->transport), datagram);
    pumpUntil(
        {a.get(), b.get()}, [] { return false; }, std::chrono::milliseconds(200), forward);
    EXPECT_EQ(b->events.messages.size(), 40u) << "a replayed datagram was delivered";
    EXPECT_EQ(b->events.connected.size(), 1u);
}

TEST(Seam, ControlChannelIsReliableAlwaysOpenAndApartFromProgramChannels) {
    auto both = openedPair();
    auto& a = both.first;
    auto& b = both.second;
    const std::vector<std::uint8_t> control(70000, 0x5a);
    ASSERT_EQ(a->transport->send(b->transport->peerId(), Channel::control(), control),
              TransportStatus::ok);
    ASSERT_EQ(a->transport->send(b->transport->peerId(), Channel{0, false}, control),
              TransportStatus::tooLarge);
    ASSERT_TRUE(pumpUntil({a.get(), b.get()}, [&] { return !b->events.messages.empty(); }));
    EXPECT_TRUE(b->events.messages[0].channel.internal);
    EXPECT_EQ(b->events.messages[0].channel.id, 0);
    EXPECT_EQ(b->events.messages[0].bytes, control);
}

TEST(Ciphers, EndsWithDifferentCiphersAgreeOnOne) {
    auto aesSettings = loopbackSettings();
    auto chachaSettings = loopbackSettings();
    chachaSettings.allowAes = false;
    auto a = makeNode(aesSettings);
    auto b = makeNode(chachaSettings);
    a->transport->openPeer(b->transport->peerId(), b->transport->route());
    a->transport->openChannel(b->transport->peerId(), reliable, Reliability::reliable);
    b->transport->openPeer(a->transport->peerId(), a->transport->route());
    b->transport->openChannel(a->transport->peerId(), reliable, Reliability::reliable);
    a->transport->send(b->transport->peerId(), reliable, std::vector<std::uint8_t>{1});
    b->transport->send(a->transport->peerId(), reliable, std::vector<std::uint8_t>{2});
    EXPECT_TRUE(pumpUntil({a.get(), b.get()}, [&] {
        return a->events.messages.size() == 1 && b->events.messages.size() == 1;
    }));
}

} // namespace
