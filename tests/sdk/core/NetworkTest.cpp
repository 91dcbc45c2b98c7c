#include "tests/support/SdkNodes.h"
#include "tests/support/TestUdpSocket.h"

#include "sdk/transport/Keys.h"
#include "sdk/transport/Route.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace sdktest;
using discord::Result;

namespace {

// One datagram of at most 1472 bytes, with room for a relay's header.
constexpr std::size_t largestUnreliable = 1432;

TEST(SelfPeer, MessagesStayLocalAndArriveInTheNextRunCallbacks) {
    auto node = Node::create();
    ASSERT_TRUE(node);
    node->run();
    node->open(*node);
    const std::vector<std::uint8_t> first{1, 2, 3};
    const std::vector<std::uint8_t> second(1000, 9);
    ASSERT_EQ(node->network().SendMessage(node->peerId, 0, first.data(), 3), Result::Ok);
    ASSERT_EQ(node->network().SendMessage(node->peerId, 1, second.data(), 1000), Result::Ok);
    ASSERT_EQ(node->network().SendMessage(node->peerId, 1, nullptr, 0), Result::Ok);
    EXPECT_TRUE(node->received.empty()) << "delivered outside RunCallbacks";
    node->run();
    ASSERT_EQ(node->received.size(), 3u);
    EXPECT_EQ(node->received[0].peer, node->peerId);
    EXPECT_EQ(node->received[0].channel, 0);
    EXPECT_EQ(node->received[0].bytes, first);
    EXPECT_EQ(node->received[1].bytes, second);
    EXPECT_TRUE(node->received[2].bytes.empty());
    node->run();
    EXPECT_EQ(node->received.size(), 3u) << "delivered once";

    // What waits for RunCallbacks is bounded like a reliable channel's queue.
    const std::vector<std::uint8_t> large(256 * 1024);
    Result result = Result::Ok;
    int accepted = 0;
    while ((result = node->network().SendMessage(node->peerId, 1, large.data(), large.size())) ==
               Result::Ok &&
           accepted < 100)
        ++accepted;
    EXPECT_EQ(result, Result::BufferFull);
    EXPECT_EQ(accepted, 16);
    node->run();
    EXPECT_EQ(node->received.size(), 3u + accepted);
}

TEST(SelfPeer, MessageSentFromAHandlerWaitsForTheNextRunCallbacks) {
    auto node = Node::create();
    ASSERT_TRUE(node);
    node->run();
    node->open(*node);
    int echoes = 0;
    node->network().OnMessage.Connect([&](discord::NetworkPeerId peer, discord::NetworkChannelId,
                                          std::uint8_t* data, std::uint32_t length) {
        if (++echoes < 3)
            node->network().SendMessage(peer, 1, data, length);
    });
    const std::uint8_t byte = 7;
    node->network().SendMessage(node->peerId, 1, &byte, 1);
    node->run();
    EXPECT_EQ(echoes, 1);
    node->run();
    EXPECT_EQ(echoes, 2);
}

TEST(Peers, RefusesBadRoutesUnknownPeersAndChannels) {
    auto both = connectedPair();
    auto& a = both.first;
    auto& b = both.second;
    ASSERT_TRUE(a && b);
    auto& network = a->network();
    const auto other = sdk::transport::KeyPair::generate();
    const std::string foreignRoute =
        "vr1 " + sdk::transport::keyToText(other.publicKey) + " 127.0.0.1:9";
    EXPECT_EQ(network.OpenPeer(12345, foreignRoute.c_str()), Result::InvalidRoute)
        << "a route whose key does not give the peer id";
    EXPECT_EQ(network.OpenPeer(12345, "not a route"), Result::InvalidRoute);
    EXPECT_EQ(network.OpenPeer(b->peerId, b->route.c_str()), Result::AlreadyExists);
    EXPECT_EQ(network.UpdatePeer(b->peerId, foreignRoute.c_str()), Result::InvalidRoute);
    const std::uint8_t byte = 1;
    EXPECT_EQ(network.SendMessage(999, 0, &byte, 1), Result::NotFound);
    EXPECT_EQ(network.SendMessage(b->peerId, 7, &byte, 1), Result::NotFound);
    EXPECT_EQ(network.OpenChannel(b->peerId, 0, true), Result::AlreadyExists);
    EXPECT_EQ(network.ClosePeer(999), Result::NotFound);
}

TEST(Unreliable, LargestMessageArrivesWholeAndLargerIsRefused) {
    auto both = connectedPair();
    auto& a = both.first;
    auto& b = both.second;
    ASSERT_TRUE(a && b);
    const auto largest = numberedMessage(1, largestUnreliable);
    const auto tooLarge = numberedMessage(2, largestUnreliable + 1);
    // Unreliable messages need a session; wait for it through the reliable channel.
    const std::uint8_t hello = 0;
    a->network().SendMessage(b->peerId, 1, &hello, 1);
    ASSERT_TRUE(pumpUntil({a.get(), b.get()}, [&] { return !b->receivedOn(1).empty(); }));

    EXPECT_EQ(a->network().SendMessage(b->peerId, 0, tooLarge.data(), tooLarge.size()),
              Result::MessageTooLarge);
    for (std::uint32_t size : {0u, 1u, 64u, 1400u})
        ASSERT_EQ(a->network().SendMessage(b->peerId, 0, numberedMessage(size, size).data(), size),
                  Result::Ok);
    ASSERT_EQ(a->network().SendMessage(b->peerId, 0, largest.data(), largest.size()), Result::Ok);
    ASSERT_TRUE(pumpUntil({a.get(), b.get()}, [&] { return b->receivedOn(0).size() == 5; }));
    const auto got = b->receivedOn(0);
    EXPECT_EQ(got[0].bytes.size(), 0u);
    EXPECT_EQ(got[2].bytes, numberedMessage(64, 64));
    EXPECT_EQ(got[4].bytes, largest);
    EXPECT_EQ(got[4].peer, a->peerId);
}

TEST(Unreliable, RefusedBeforeTheSessionExists) {
    auto a = Node::create();
    auto b = Node::create();
    ASSERT_TRUE(a && b);
    pumpUntil({a.get(), b.get()}, [&] { return !b->route.empty(); });
    a->open(*b);
    const std::uint8_t byte = 1;
    EXPECT_EQ(a->network().SendMessage(b->peerId, 0, &byte, 1), Result::NotConnected);
}

TEST(Reliable, ManyMessagesBothWaysArriveOnceAndInOrder) {
    auto both = connectedPair();
    auto& a = both.first;
    auto& b = both.second;
    ASSERT_TRUE(a && b);
    const std::vector<std::size_t> sizes{1, 100, 1437, 1438, 5000, 65536, 0, 300};
    constexpr std::uint32_t count = 1200;
    std::uint32_t sent = 0;
    // Sent while the handshake may still be running: queued, then delivered.
    const auto sendSome = [&](std::uint32_t upTo) {
        for (; sent < upTo; ++sent) {
            const auto message = numberedMessage(sent, sizes[sent % sizes.size()]);
            ASSERT_EQ(a->network().SendMessage(b->peerId, 1, message.data(), message.size()),
                      Result::Ok);
            ASSERT_EQ(b->network().SendMessage(a->peerId, 1, message.data(), message.size()),
                      Result::Ok);
        }
    };
    // Batches of 100 (about 1 MB) stay under the 4 MiB send queue; the first
    // is queued while the handshake is still running.
    for (std::uint32_t batch = 100; batch <= count; batch += 100) {
        sendSome(batch);
        ASSERT_TRUE(pumpUntil(
            {a.get(), b.get()},
            [&] { return a->received.size() >= sent && b->received.size() >= sent; },
            std::chrono::milliseconds(10000)));
    }
    pumpFor({a.get(), b.get()}, std::chrono::milliseconds(50));
    for (auto* node : {a.get(), b.get()}) {
        ASSERT_EQ(node->received.size(), count);
        for (std::uint32_t i = 0; i < count; ++i)
            ASSERT_EQ(node->received[i].bytes, numberedMessage(i, sizes[i % sizes.size()]))
                << "message " << i;
    }
    EXPECT_EQ(a->received[0].peer, b->peerId);
}

TEST(Reliable, LargerThanTheBoundIsRefused) {
    auto both = connectedPair();
    auto& a = both.first;
    auto& b = both.second;
    ASSERT_TRUE(a && b);
    const std::vector<std::uint8_t> huge(256 * 1024 + 1);
    EXPECT_EQ(a->network().SendMessage(b->peerId, 1, huge.data(), huge.size()),
              Result::MessageTooLarge);
    EXPECT_EQ(a->network().SendMessage(b->peerId, 1, huge.data(), huge.size() - 1), Result::Ok);
    ASSERT_TRUE(pumpUntil({a.get(), b.get()}, [&] { return b->received.size() == 1; }));
    EXPECT_EQ(b->received[0].bytes.size(), huge.size() - 1);
}

// A port that holds a socket but never answers.
using SilentPort = testsupport::TestUdpSocket;

TEST(Peers, UpdatePeerMovesToTheNewRouteAndKeepsQueuedMessages) {
    auto a = Node::create();
    auto b = Node::create();
    ASSERT_TRUE(a && b);
    pumpUntil({a.get(), b.get()}, [&] { return !a->route.empty() && !b->route.empty(); });
    auto route = sdk::transport::parseRoute(b->route);
    ASSERT_TRUE(route);
    const std::uint16_t realPort = route->endpoints[0].port;
    SilentPort silent;
    route->endpoints[0].port = silent.port();
    const std::string wrongRoute = sdk::transport::formatRoute(*route);
    ASSERT_EQ(a->network().OpenPeer(b->peerId, wrongRoute.c_str()), Result::Ok);
    a->network().OpenChannel(b->peerId, 1, true);
    // b accepts a's key but cannot reach a either: only a's route to b matters.
    auto routeOfA = sdk::transport::parseRoute(a->route);
    routeOfA->endpoints[0].port = silent.port();
    const std::string wrongRouteOfA = sdk::transport::formatRoute(*routeOfA);
    ASSERT_EQ(b->network().OpenPeer(a->peerId, wrongRouteOfA.c_str()), Result::Ok);
    b->network().OpenChannel(a->peerId, 1, true);
    const auto message = numberedMessage(1, 3000);
    ASSERT_EQ(a->network().SendMessage(b->peerId, 1, message.data(), message.size()), Result::Ok);
    pumpFor({a.get(), b.get()}, std::chrono::milliseconds(300));
    EXPECT_TRUE(b->received.empty()) << "nothing answers at the old port";

    // Both endpoints listed: the one that answers is kept.
    route->endpoints.push_back({INADDR_LOOPBACK, realPort});
    const std::string newRoute = sdk::transport::formatRoute(*route);
    ASSERT_EQ(a->network().UpdatePeer(b->peerId, newRoute.c_str()), Result::Ok);
    ASSERT_TRUE(pumpUntil({a.get(), b.get()}, [&] { return b->received.size() == 1; }));
    EXPECT_EQ(b->received[0].bytes, message);
    const std::uint8_t byte = 5;
    ASSERT_EQ(b->network().SendMessage(a->peerId, 1, &byte, 1), Result::Ok);
    ASSERT_TRUE(pumpUntil({a.get(), b.get()}, [&] { return a->received.size() == 1; }));
}

TEST(Peers, DestroyingACoreWithConnectedPeersAndTrafficInFlight) {
    auto a = Node::create();
    auto b = Node::create();
    auto c = Node::create();
    ASSERT_TRUE(a && b && c);
    pumpUntil({a.get(), b.get(), c.get()},
              [&] { return !a->route.empty() && !b->route.empty() && !c->route.empty(); });
    a->open(*b);
    b->open(*a);
    b->open(*c);
    c->open(*b);
    const auto message = numberedMessage(1, 100000);
    a->network().SendMessage(b->peerId, 1, message.data(), message.size());
    c->network().SendMessage(b->peerId, 1, message.data(), message.size());
    ASSERT_TRUE(pumpUntil({a.get(), b.get(), c.get()}, [&] { return b->received.size() == 2; }));
    for (int i = 0; i < 50; ++i)
        b->network().SendMessage(a->peerId, 1, message.data(), message.size());
    const std::size_t before = b->received.size();
    b->destroy();
    pumpFor({a.get(), c.get()}, std::chrono::milliseconds(100));
    EXPECT_EQ(before, b->received.size());
    // The others go on: a and c still reach themselves through the network.
    a->open(*c);
    c->open(*a);
    const std::uint8_t byte = 3;
    a->network().SendMessage(c->peerId, 1, &byte, 1);
    EXPECT_TRUE(pumpUntil({a.get(), c.get()}, [&] {
        return !c->receivedOn(1).empty() && c->receivedOn(1).back().peer == a->peerId;
    }));
}

TEST(Peers, ClosedPeerCanBeOpenedAgainAndStartsOver) {
    auto both = connectedPair();
    auto& a = both.first;
    auto& b = both.second;
    ASSERT_TRUE(a && b);
    const std::uint8_t first = 1;
    a->network().SendMessage(b->peerId, 1, &first, 1);
    ASSERT_TRUE(pumpUntil({a.get(), b.get()}, [&] { return b->received.size() == 1; }));
    ASSERT_EQ(a->network().ClosePeer(b->peerId), Result::Ok);
    a->open(*b);
    const std::uint8_t second = 2;
    a->network().SendMessage(b->peerId, 1, &second, 1);
    ASSERT_TRUE(pumpUntil({a.get(), b.get()}, [&] { return b->received.size() == 2; }));
    EXPECT_EQ(b->received[1].bytes, std::vector<std::uint8_t>{2});
}

} // namespace
