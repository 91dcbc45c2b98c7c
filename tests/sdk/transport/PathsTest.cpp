// Paths between peers on loopback: a member pair that cannot reach each other
// directly is carried through the lobby's host, sealed end to end; a direct
// path that forms takes over, one that breaks hands back to the relay; each
// core learns where its peers see it from.

#include "tests/sdk/transport/RawPeer.h"
#include "tests/sdk/transport/TransportTestSupport.h"

#include <algorithm>
#include <deque>

using namespace transporttest;
using namespace std::chrono_literals;

namespace {

constexpr Channel data{0, false};

TransportSettings quickPaths() {
    auto settings = loopbackSettings();
    settings.relayAfter = Milliseconds(300);
    settings.pathSilence = Milliseconds(600);
    settings.probeInterval = Milliseconds(200);
    return settings;
}

// A box between two endpoints that passes datagrams both ways, after a delay
// if given; it can be cut, and it can change what goes to `left` (a relay
// that alters what it carries).
class Middlebox {
public:
    Middlebox(Endpoint left, Endpoint right) : left(left), right(right) {}

    void pumpOnce() {
        Endpoint from;
        const auto now = Clock::now();
        while (auto datagram = socket.receive(&from)) {
            if (cut)
                continue;
            if (from == left) {
                held.push_back({now + delay, right, std::move(*datagram)});
            } else if (from == right) {
                if (alter)
                    alter(*datagram);
                if (steal && steal(*datagram))
                    continue;
                held.push_back({now + delay, left, std::move(*datagram)});
            }
        }
        while (!held.empty() && held.front().due <= now) {
            socket.sendTo(held.front().to, held.front().bytes);
            held.pop_front();
        }
    }
    Endpoint endpoint() const { return socket.endpoint(); }

    bool cut = false;
    Milliseconds delay{0};
    std::function<void(std::vector<std::uint8_t>&)> alter;
    // True: the datagram to `left` is taken away instead of passed on.
    std::function<bool(const std::vector<std::uint8_t>&)> steal;

private:
    struct Held {
        TimePoint due;
        Endpoint to;
        std::vector<std::uint8_t> bytes;
    };
    RawSocket socket;
    Endpoint left;
    Endpoint right;
    std::deque<Held> held;
};

// A host and two members. Each member opens the host for the lobby (at
// hostRoute, or the host's own route) and the other member at a route
// that goes nowhere until a test gives it a real one.
struct Trio {
    explicit Trio(TransportSettings memberSettings = quickPaths())
        : host(makeNode(quickPaths())), a(makeNode(memberSettings)), b(makeNode(memberSettings)) {
        const PublicKey aKey = a->transport->publicKey();
        const PublicKey bKey = b->transport->publicKey();
        host->transport->setKeyFilter([aKey, bKey](const PublicKey& key) {
            return key == aKey || key == bKey ? KeyAccess::member : KeyAccess::refused;
        });
    }

    void open(std::optional<Endpoint> aSeesHostAt = std::nullopt) {
        const PeerId hostId = host->transport->peerId();
        ASSERT_EQ(
            a->transport->openPeer(
                hostId,
                routeAt(*host->transport, {aSeesHostAt.value_or(endpointOf(*host->transport))}),
                PeerUse::lobby),
            TransportStatus::ok);
        ASSERT_EQ(b->transport->openPeer(hostId, host->transport->route(), PeerUse::lobby),
                  TransportStatus::ok);
        for (auto* node : {a.get(), b.get()}) {
            auto* other = node == a.get() ? b.get() : a.get();
            ASSERT_EQ(node->transport->openPeer(other->transport->peerId(),
                                                routeAt(*other->transport, {nowhere.endpoint()})),
                      TransportStatus::ok);
            node->transport->openChannel(other->transport->peerId(), data, Reliability::unreliable);
        }
    }

    bool pumpUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds limit = testsupport::defaultPumpLimit) {
        return testsupport::pumpUntil({host.get(), a.get(), b.get()}, done, limit, [&] {
            for (auto* box : boxes)
                box->pumpOnce();
        });
    }

    std::optional<PeerPathInfo> path(TransportNode& from, TransportNode& to) const {
        return from.transport->pathOf(to.transport->peerId());
    }
    bool relayed(TransportNode& from, TransportNode& to) const {
        const auto info = path(from, to);
        return info && info->connected && info->relayed;
    }
    bool direct(TransportNode& from, TransportNode& to) const {
        const auto info = path(from, to);
        return info && info->connected && !info->relayed && info->endpoint;
    }

    bool delivered(TransportNode& to, const std::vector<std::uint8_t>& message) const {
        return std::any_of(to.events.messages.begin(), to.events.messages.end(),
                           [&](const Delivered& m) { return m.bytes == message; });
    }
    // Sends until it arrives: the path may still be settling.
    bool carries(TransportNode& from, TransportNode& to, const std::vector<std::uint8_t>& message) {
        return pumpUntil([&] {
            from.transport->send(to.transport->peerId(), data, message);
            return delivered(to, message);
        });
    }

    std::unique_ptr<TransportNode> host;
    std::unique_ptr<TransportNode> a;
    std::unique_ptr<TransportNode> b;
    RawSocket nowhere; // a route endpoint that never answers
    std::vector<Middlebox*> boxes;
};

std::vector<std::uint8_t> bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

TEST(Relay, MembersWithoutADirectPathTalkThroughTheHost) {
    Trio trio;
    trio.open();
    ASSERT_TRUE(trio.pumpUntil([&] {
        return trio.relayed(*trio.a, *trio.b) && trio.relayed(*trio.b, *trio.a);
    })) << "no relayed path formed";
    const auto info = trio.path(*trio.a, *trio.b);
    EXPECT_EQ(info->relay, trio.host->transport->peerId());
    EXPECT_EQ(info->endpoint, endpointOf(*trio.host->transport));

    // The largest message a direct path carries fits a relayed datagram too.
    std::vector<std::uint8_t> largest(maxUnreliableMessage, 0x42);
    largest[0] = 1;
    EXPECT_TRUE(trio.carries(*trio.a, *trio.b, largest));
    EXPECT_TRUE(trio.carries(*trio.b, *trio.a, bytesOf("back through the host")));
    EXPECT_TRUE(trio.pumpUntil([&] { return trio.path(*trio.a, *trio.b)->roundTrip.has_value(); }))
        << "no live round trip on the relayed path";
    EXPECT_TRUE(trio.host->events.messages.empty()) << "the host read what it carried";
}

TEST(Relay, ADatagramTheHostAltersIsDropped) {
    Trio trio;
    // The host's datagrams to a pass through a box that flips one byte of
    // what the host relays: as if the host itself had altered it.
    Middlebox box(endpointOf(*trio.a->transport), endpointOf(*trio.host->transport));
    const auto tampered = bytesOf("altered on the way, a size of its own");
    const std::size_t tamperedSize =
        relayHeaderSize + dataOverhead + unreliableHeaderSize + tampered.size();
    int altered = 0;
    bool flip = false;
    box.alter = [&](std::vector<std::uint8_t>& datagram) {
        if (flip && datagram[0] == static_cast<std::uint8_t>(DatagramType::relayed) &&
            datagram.size() > relayHeaderSize + dataHeaderSize) {
            datagram[relayHeaderSize + dataHeaderSize] ^= 0x01;
            altered += datagram.size() == tamperedSize ? 1 : 0;
        }
    };
    trio.boxes.push_back(&box);
    trio.open(box.endpoint());
    ASSERT_TRUE(trio.carries(*trio.b, *trio.a, bytesOf("unaltered")));
    ASSERT_TRUE(trio.relayed(*trio.a, *trio.b));

    flip = true;
    constexpr int sent = 20;
    for (int i = 0; i < sent; ++i)
        ASSERT_EQ(trio.b->transport->send(trio.a->transport->peerId(), data, tampered),
                  TransportStatus::ok);
    ASSERT_TRUE(trio.pumpUntil([&] { return altered == sent; }));
    flip = false;
    EXPECT_TRUE(trio.carries(*trio.b, *trio.a, bytesOf("unaltered again")));
    EXPECT_FALSE(trio.delivered(*trio.a, tampered)) << "an altered datagram was delivered";
    for (const auto& message : trio.a->events.messages)
        EXPECT_TRUE(message.bytes == bytesOf("unaltered") ||
                    message.bytes == bytesOf("unaltered again"))
            << "delivered something nobody sent";
}

TEST(Relay, ADirectPathTakesOverAndABrokenOneHandsBack) {
    Trio trio;
    trio.open();
    ASSERT_TRUE(trio.pumpUntil([&] { return trio.relayed(*trio.a, *trio.b); }));

    // Both members reach each other only through a box they can be cut off by.
    Middlebox box(endpointOf(*trio.a->transport), endpointOf(*trio.b->transport));
    trio.boxes.push_back(&box);
    ASSERT_EQ(trio.a->transport->updatePeer(trio.b->transport->peerId(),
                                            routeAt(*trio.b->transport, {box.endpoint()})),
              TransportStatus::ok);
    ASSERT_EQ(trio.b->transport->updatePeer(trio.a->transport->peerId(),
                                            routeAt(*trio.a->transport, {box.endpoint()})),
              TransportStatus::ok);
    ASSERT_TRUE(trio.pumpUntil([&] {
        return trio.direct(*trio.a, *trio.b) && trio.direct(*trio.b, *trio.a);
    })) << "the direct path did not take over";
    EXPECT_EQ(trio.path(*trio.a, *trio.b)->endpoint, box.endpoint());
    EXPECT_TRUE(trio.carries(*trio.a, *trio.b, bytesOf("direct")));

    box.cut = true;
    ASSERT_TRUE(trio.pumpUntil([&] {
        return trio.relayed(*trio.a, *trio.b) && trio.relayed(*trio.b, *trio.a);
    })) << "the relay did not take over a broken path";
    EXPECT_TRUE(trio.carries(*trio.a, *trio.b, bytesOf("relayed after the break")));

    box.cut = false;
    ASSERT_TRUE(trio.pumpUntil([&] {
        return trio.direct(*trio.a, *trio.b) && trio.direct(*trio.b, *trio.a);
    })) << "traffic did not move back to the direct path";
    EXPECT_TRUE(trio.a->events.lost.empty());
    EXPECT_TRUE(trio.b->events.lost.empty());
}

TEST(SimultaneousOpen, TheFasterOfTwoCandidatesIsKept) {
    Trio trio;
    const PublicKey aKey = trio.a->transport->publicKey();
    trio.b->transport->setKeyFilter([aKey](const PublicKey& key) {
        return key == aKey ? KeyAccess::member : KeyAccess::refused;
    });
    // b's route as a gives it: a slow path first, then b's own endpoint.
    Middlebox slow(endpointOf(*trio.a->transport), endpointOf(*trio.b->transport));
    slow.delay = Milliseconds(150);
    trio.boxes.push_back(&slow);
    ASSERT_EQ(trio.a->transport->openPeer(
                  trio.b->transport->peerId(),
                  routeAt(*trio.b->transport, {slow.endpoint(), endpointOf(*trio.b->transport)})),
              TransportStatus::ok);
    ASSERT_TRUE(trio.pumpUntil([&] { return trio.direct(*trio.a, *trio.b); }));
    // The slow copy arrives later; the faster path stays.
    trio.pumpUntil([] { return false; }, Milliseconds(400));
    EXPECT_EQ(trio.path(*trio.a, *trio.b)->endpoint, endpointOf(*trio.b->transport));
    EXPECT_EQ(trio.path(*trio.b, *trio.a)->endpoint, endpointOf(*trio.a->transport));
}

TEST(Reflexive, AMemberLearnsWhereItsPeersSeeItFrom) {
    // a announces only 127.0.0.2; it reaches the host from 127.0.0.1.
    auto settings = quickPaths();
    settings.announcedAddresses = {Endpoint{INADDR_LOOPBACK + 1, 0}};
    Trio trio(settings);
    trio.open();
    const Endpoint seen = endpointOf(*trio.a->transport);
    const std::string expected = routeAt(
        *trio.a->transport, {Endpoint{INADDR_LOOPBACK + 1, trio.a->transport->port()}, seen});
    ASSERT_TRUE(trio.pumpUntil([&] { return trio.a->events.route == expected; }))
        << trio.a->events.route;
    EXPECT_EQ(trio.a->transport->route(), expected);
}

// One authenticated datagram, kept from its way and sent again from another
// address, earns that address a challenge and nothing more: the path stays
// where it was proven and carries on.
TEST(ProvenPaths, ADatagramReplayedFromANewSourceMovesNothing) {
    auto a = makeNode(quickPaths());
    auto b = makeNode(quickPaths());
    const PublicKey aKey = a->transport->publicKey();
    b->transport->setKeyFilter([aKey](const PublicKey& key) {
        return key == aKey ? KeyAccess::member : KeyAccess::refused;
    });
    // b reaches a (and a b) only through the box; what b sends a can be kept.
    Middlebox box(endpointOf(*a->transport), endpointOf(*b->transport));
    std::optional<std::vector<std::uint8_t>> kept;
    bool keepOne = false;
    box.steal = [&](const std::vector<std::uint8_t>& datagram) {
        if (!keepOne || kept || datagram[0] != static_cast<std::uint8_t>(DatagramType::data))
            return false;
        kept = datagram;
        return true;
    };
    const auto pump = [&](const std::function<bool()>& done, Milliseconds limit) {
        return pumpUntil({a.get(), b.get()}, done, limit, [&] { box.pumpOnce(); });
    };
    const PeerId bId = b->transport->peerId();
    ASSERT_EQ(a->transport->openPeer(bId, routeAt(*b->transport, {box.endpoint()})),
              TransportStatus::ok);
    a->transport->openChannel(bId, data, Reliability::unreliable);
    b->transport->openChannel(a->transport->peerId(), data, Reliability::unreliable);
    ASSERT_TRUE(pump(
        [&] {
            return a->transport->isConnected(bId) &&
                   b->transport->isConnected(a->transport->peerId());
        },
        5000ms));
    ASSERT_EQ(a->transport->pathOf(bId)->endpoint, box.endpoint());

    keepOne = true;
    ASSERT_TRUE(pump([&] { return kept.has_value(); }, 5000ms));
    RawSocket replayer(INADDR_LOOPBACK + 1);
    replayer.sendTo(endpointOf(*a->transport), *kept);
    // a answers the new source once, with a challenge it cannot answer.
    std::size_t toReplayer = 0;
    ASSERT_TRUE(pump(
        [&] {
            while (replayer.receive())
                ++toReplayer;
            return toReplayer > 0;
        },
        5000ms))
        << "the replayed datagram was not taken as b's";
    const auto message = bytesOf("still through the box");
    ASSERT_TRUE(pump(
        [&] {
            a->transport->send(bId, data, message);
            return std::any_of(b->events.messages.begin(), b->events.messages.end(),
                               [&](const Delivered& m) { return m.bytes == message; });
        },
        5000ms));
    while (replayer.receive())
        ++toReplayer;
    EXPECT_EQ(a->transport->pathOf(bId)->endpoint, box.endpoint()) << "the replay moved the path";
    // The challenge, and the answer if the kept datagram was a probe.
    EXPECT_LE(toReplayer, 2u) << "traffic went to the replaying address";
}

// A member that hands a core another member's datagram as relayed, from its
// own proven path: only the lobby's host relays, so the path stays the
// host's.
TEST(ProvenPaths, ARelayedDatagramFromAMemberThatIsNotTheHostMovesNothing) {
    Trio trio;
    // Between the host and a: a box that can keep what the host relays to a.
    Middlebox box(endpointOf(*trio.a->transport), endpointOf(*trio.host->transport));
    std::optional<std::vector<std::uint8_t>> kept;
    bool keepOne = false;
    box.steal = [&](const std::vector<std::uint8_t>& datagram) {
        if (!keepOne || kept || datagram[0] != static_cast<std::uint8_t>(DatagramType::relayed))
            return false;
        kept = datagram;
        return true;
    };
    trio.boxes.push_back(&box);
    // A third member, reached by a directly.
    RawPeer other(*trio.a->transport);
    const PublicKey bKey = trio.b->transport->publicKey();
    const PublicKey hostKey = trio.host->transport->publicKey();
    const PublicKey otherKey = other.keys.publicKey;
    trio.a->transport->setKeyFilter([=](const PublicKey& key) {
        return key == bKey || key == hostKey || key == otherKey ? KeyAccess::member
                                                                : KeyAccess::refused;
    });
    trio.open(box.endpoint());
    ASSERT_TRUE(other.handshake(*trio.a));
    ASSERT_TRUE(trio.pumpUntil([&] {
        return trio.relayed(*trio.a, *trio.b) &&
               trio.a->transport->pathOf(other.id())->endpoint == other.endpoint();
    }));

    keepOne = true;
    ASSERT_TRUE(trio.pumpUntil([&] {
        trio.b->transport->send(trio.a->transport->peerId(), data, bytesOf("kept"));
        return kept.has_value();
    }));
    // Nothing from the host meanwhile, so nothing would put a path it took back.
    box.cut = true;
    other.sendRaw(*kept);
    bool relayedByOther = false;
    trio.pumpUntil(
        [&] {
            trio.a->transport->send(trio.b->transport->peerId(), data, bytesOf("to b"));
            while (const auto datagram = other.receiveRaw())
                relayedByOther =
                    relayedByOther ||
                    (*datagram)[0] == static_cast<std::uint8_t>(DatagramType::relayRequest);
            return relayedByOther;
        },
        Milliseconds(300));
    EXPECT_EQ(trio.path(*trio.a, *trio.b)->relay, trio.host->transport->peerId())
        << "a member that is not the host took the relayed path";
    EXPECT_FALSE(relayedByOther)
        << "a sent its traffic for b through a member that is not the host";
    box.cut = false;
    EXPECT_TRUE(trio.carries(*trio.b, *trio.a, bytesOf("through the host")));
}

// Where a member is seen from is its host's word: another member that
// answers its probes with an address of its choice changes nothing.
TEST(Reflexive, AMemberTakesWhereItIsSeenFromOnlyFromItsHost) {
    Trio trio;
    trio.open();
    const std::string learnt = routeAt(*trio.a->transport, {endpointOf(*trio.a->transport)});
    ASSERT_TRUE(trio.pumpUntil([&] { return trio.a->transport->route() == learnt; }))
        << trio.a->transport->route();
    RawPeer liar(*trio.a->transport);
    const PublicKey hostKey = trio.host->transport->publicKey();
    const PublicKey liarKey = liar.keys.publicKey;
    trio.a->transport->setKeyFilter([=](const PublicKey& key) {
        return key == hostKey || key == liarKey ? KeyAccess::member : KeyAccess::refused;
    });
    ASSERT_TRUE(liar.handshake(*trio.a));
    const Endpoint lie{0x0b000009u, 4000};
    int answered = 0;
    ASSERT_TRUE(trio.pumpUntil([&] {
        for (const auto& frame : liar.receiveFrames())
            if (frame.kind == FrameKind::probe) {
                ++answered;
                liar.send(Frame{FrameKind::probeAnswer, {}, 0, 0, {}, frame.token, lie});
            }
        return answered >= 3;
    }));
    trio.pumpUntil([] { return false; }, Milliseconds(200));
    EXPECT_EQ(trio.a->transport->route(), learnt) << "a member's word named the route";
}

} // namespace
