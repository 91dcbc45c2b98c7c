// The transport against peers that mean harm, on loopback: a newcomer that
// parks parts and sends long messages stays within its budget, and a flood
// of initiations from a stranger who knows the host's key neither stops a
// member's traffic nor keeps a new member out.

#include "tests/sdk/transport/RawPeer.h"
#include "tests/sdk/transport/TransportTestSupport.h"

#include "sdk/transport/Cookie.h"
#include "sdk/transport/Handshake.h"

#include <atomic>
#include <iostream>
#include <thread>

using namespace transporttest;

namespace {

std::unique_ptr<TransportNode> hostLettingEveryoneIn(Milliseconds timeout) {
    auto host = makeNode(loopbackSettings(timeout));
    host->transport->setKeyFilter([](const PublicKey&) { return KeyAccess::newcomer; });
    return host;
}

TEST(NewcomerBudget, ParkedPartsAndLongMessagesStayWithinTheBudget) {
    auto host = hostLettingEveryoneIn(Milliseconds(10000));
    RawPeer newcomer(*host->transport);
    ASSERT_TRUE(newcomer.handshake(*host));
    ASSERT_EQ(host->transport->newcomerCount(), 1u);

    // Parts parked ahead of what is expected, on program channels and on the
    // control channel, then a long message on the control channel in order.
    const std::vector<std::uint8_t> part(maxReliablePart, 0x5a);
    for (std::uint8_t channel = 0; channel < 32; ++channel)
        for (std::uint32_t sequence = 1; sequence < 40; ++sequence)
            for (const bool internal : {false, true})
                newcomer.send(Frame{
                    FrameKind::reliablePart, Channel{channel, internal}, sequence, 0, part, 0, {}});
    constexpr std::uint32_t longMessageParts = 150;
    for (std::uint32_t sequence = 0; sequence < longMessageParts; ++sequence)
        newcomer.send(Frame{FrameKind::reliablePart, Channel::control(), sequence, 0, part, 0, {}});
    newcomer.send(Frame{FrameKind::unreliable, Channel{3, false}, 0, 0, part, 0, {}});

    // Once the host acknowledges the whole long message, it has read everything.
    ASSERT_TRUE(pumpUntil({host.get()}, [&] {
        return newcomer.acknowledged(Channel::control()) == longMessageParts;
    }));
    EXPECT_LE(host->transport->newcomerHeldBytes(), NewcomerBudget::heldBytes);
    EXPECT_TRUE(host->events.messages.empty()) << "a newcomer's long message or data got through";
}

// Loopback addresses as sources of their own: 127.0.0.10, .11, ...
std::uint32_t source(std::size_t index) {
    return INADDR_LOOPBACK + 9 + static_cast<std::uint32_t>(index);
}

bool present(TransportNode& host, const RawPeer& peer) {
    return host.transport->keyOf(peer.id()).has_value();
}

// Newcomers past the budget get in, and the oldest make way for them: no
// one can hold the slots against a member by taking them first.
TEST(NewcomerBudget, TheOldestNewcomersGiveWayAndEachGoesAtItsDeadline) {
    auto host = hostLettingEveryoneIn(Milliseconds(2500));
    constexpr std::size_t extra = 4;
    std::vector<std::unique_ptr<RawPeer>> newcomers;
    for (std::size_t i = 0; i < NewcomerBudget::maxNewcomers + extra; ++i) {
        newcomers.push_back(std::make_unique<RawPeer>(*host->transport, source(i)));
        EXPECT_TRUE(newcomers.back()->handshake(*host)) << "newcomer " << i;
        EXPECT_LE(host->transport->newcomerCount(), NewcomerBudget::maxNewcomers);
    }
    EXPECT_EQ(host->transport->newcomerCount(), NewcomerBudget::maxNewcomers);
    for (std::size_t i = 0; i < newcomers.size(); ++i)
        EXPECT_EQ(present(*host, *newcomers[i]), i >= extra) << "newcomer " << i;

    // Admitted before the deadline: it stays. The others go.
    const RawPeer& admitted = *newcomers[extra];
    host->transport->admitPeer(admitted.id());
    ASSERT_TRUE(pumpUntil({host.get()}, [&] { return host->transport->newcomerCount() == 0; }));
    EXPECT_TRUE(present(*host, admitted));
    EXPECT_FALSE(present(*host, *newcomers.back()));
}

// One source holds only its share: its own oldest makes way, never another
// source's newcomer, and an admitted member does not count.
TEST(NewcomerBudget, OneSourceHoldsOnlyItsShare) {
    auto host = hostLettingEveryoneIn(Milliseconds(10000));
    RawPeer other(*host->transport, source(0));
    ASSERT_TRUE(other.handshake(*host));
    RawPeer member(*host->transport, source(1));
    ASSERT_TRUE(member.handshake(*host));
    host->transport->admitPeer(member.id());

    std::vector<std::unique_ptr<RawPeer>> fromOne;
    for (std::size_t i = 0; i < 2 * NewcomerBudget::maxPerSource; ++i) {
        fromOne.push_back(std::make_unique<RawPeer>(*host->transport, source(1)));
        EXPECT_TRUE(fromOne.back()->handshake(*host)) << "newcomer " << i;
    }
    for (std::size_t i = 0; i < fromOne.size(); ++i)
        EXPECT_EQ(present(*host, *fromOne[i]), i >= NewcomerBudget::maxPerSource)
            << "newcomer " << i;
    EXPECT_TRUE(present(*host, other));
    EXPECT_TRUE(present(*host, member));
    EXPECT_EQ(host->transport->newcomerCount(), NewcomerBudget::maxPerSource + 1);
}

// Initiations alone (their sources may be spoofed) push out those that never
// answered first: a newcomer that finished its handshake outlasts a stream
// of them from sources of their own.
TEST(NewcomerBudget, BareInitiationsGiveWayBeforeAFinishedHandshake) {
    auto host = hostLettingEveryoneIn(Milliseconds(10000));
    RawPeer finished(*host->transport, source(0));
    ASSERT_TRUE(finished.handshake(*host));
    ASSERT_TRUE(
        pumpUntil({host.get()}, [&] { return host->transport->isConnected(finished.id()); }));
    std::vector<std::unique_ptr<RawPeer>> bare;
    for (std::size_t i = 1; i <= 3 * NewcomerBudget::maxNewcomers; ++i) {
        bare.push_back(std::make_unique<RawPeer>(*host->transport, source(i)));
        bare.back()->initiate();
        // Each answered (the host cannot tell it from a real one), so each was let in.
        ASSERT_TRUE(pumpUntil({host.get()}, [&] { return bare.back()->receiveRaw().has_value(); }))
            << "initiation " << i;
    }
    EXPECT_EQ(host->transport->newcomerCount(), NewcomerBudget::maxNewcomers);
    EXPECT_TRUE(present(*host, finished));
    EXPECT_TRUE(present(*host, *bare.back()));
}

// A member's newcomer in its first round trip, the slots full of strangers
// that finished their handshakes and more coming: the strangers give way
// among themselves, and the member finishes.
TEST(NewcomerBudget, ANewcomerInItsHandshakeOutlastsStrangersThatFinishedTheirs) {
    auto host = hostLettingEveryoneIn(Milliseconds(10000));
    std::vector<std::unique_ptr<RawPeer>> strangers;
    const auto addStranger = [&] {
        strangers.push_back(std::make_unique<RawPeer>(*host->transport, source(strangers.size())));
        return strangers.back()->handshake(*host);
    };
    for (std::size_t i = 0; i < NewcomerBudget::maxNewcomers; ++i)
        ASSERT_TRUE(addStranger()) << "stranger " << i;
    RawPeer member(*host->transport, source(100));
    member.initiate();
    ASSERT_TRUE(pumpUntil({host.get()}, [&] { return present(*host, member); }));
    for (std::size_t i = 0; i < 4; ++i)
        ASSERT_TRUE(addStranger()) << "later stranger " << i;
    EXPECT_TRUE(present(*host, member)) << "pushed out before its handshake could finish";
    ASSERT_TRUE(pumpUntil({host.get()}, [&] { return member.finish(); }));
    EXPECT_TRUE(pumpUntil({host.get()}, [&] { return host->transport->isConnected(member.id()); }));
    EXPECT_FALSE(present(*host, *strangers.front())) << "the oldest stranger gave way";
}

TEST(Cookie, OnlyTheAddressThatReceivedItCanUseIt) {
    const KeyPair responder = KeyPair::generate();
    const KeyPair initiator = KeyPair::generate();
    CookieChecker checker(responder.publicKey);
    const Endpoint from{INADDR_LOOPBACK, 4000};
    const auto now = Clock::now();
    const auto first = makeInitiation(initiator, responder.publicKey, 9, 1, 1, 1);
    EXPECT_TRUE(checker.mac1Valid(first.datagram));
    EXPECT_FALSE(checker.mac2Valid(first.datagram, from, now)) << "no cookie yet";
    EXPECT_FALSE(CookieChecker(initiator.publicKey).mac1Valid(first.datagram))
        << "mac1 names the responder";

    const auto reply = checker.reply(first.datagram, from, now);
    const auto other = makeInitiation(initiator, responder.publicKey, 10, 2, 1, 1);
    EXPECT_FALSE(openCookieReply(responder.publicKey, other.datagram, reply))
        << "a reply to another initiation";
    const auto cookie = openCookieReply(responder.publicKey, first.datagram, reply);
    ASSERT_TRUE(cookie);

    const auto second = makeInitiation(initiator, responder.publicKey, 11, 3, 1, 1, cookie);
    EXPECT_TRUE(checker.mac2Valid(second.datagram, from, now));
    EXPECT_FALSE(checker.mac2Valid(second.datagram, Endpoint{INADDR_LOOPBACK, 4001}, now))
        << "another source port";
}

// Sends initiations that pass mac1 (the stranger read the host's key in an
// invitation) at a steady rate until stopped, from 127.0.0.2, and counts what
// it sent and the cookie replies that came back to it.
class Flood {
public:
    Flood(const Transport& host, int perSecond) {
        const KeyPair stranger = KeyPair::generate();
        const auto initiation = makeInitiation(stranger, host.publicKey(), 5, 1, 1, 3);
        thread = std::thread([this, datagram = initiation.datagram, to = endpointOf(host),
                              perSecond] {
            RawSocket socket(INADDR_LOOPBACK + 1);
            const auto start = std::chrono::steady_clock::now();
            while (!stop) {
                const double seconds =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                while (sent < static_cast<long>(seconds * perSecond)) {
                    socket.sendTo(to, datagram);
                    ++sent;
                }
                while (const auto answer = socket.receive())
                    if (datagramTypeOf(*answer) == DatagramType::cookieReply)
                        ++cookieReplies;
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
        });
    }
    ~Flood() {
        stop = true;
        thread.join();
    }

    std::atomic<long> sent{0};
    std::atomic<long> cookieReplies{0};

private:
    std::atomic<bool> stop{false};
    std::thread thread;
};

TEST(InitiationFlood, MembersTrafficFlowsAndANewMemberStillGetsIn) {
    auto host = makeNode();
    auto member = makeNode();
    const PeerId hostId = host->transport->peerId();
    const PeerId memberId = member->transport->peerId();
    const auto memberKey = member->transport->publicKey();
    PublicKey lateKey{};
    host->transport->setKeyFilter([&](const PublicKey& key) {
        return key == memberKey || key == lateKey ? KeyAccess::member : KeyAccess::refused;
    });
    constexpr Channel pings{0, false};
    ASSERT_EQ(member->transport->openPeer(hostId, host->transport->route()), TransportStatus::ok);
    member->transport->openChannel(hostId, pings, Reliability::unreliable);
    ASSERT_TRUE(pumpUntil({host.get(), member.get()},
                          [&] { return host->transport->isConnected(memberId); }));
    host->transport->openChannel(memberId, pings, Reliability::unreliable);

    Flood flood(*host->transport, 30000);
    // The flood is under way, and the host, under load, answers it with
    // cookies instead of doing the key work.
    ASSERT_TRUE(pumpUntil({host.get(), member.get()},
                          [&] { return flood.sent > 3000 && flood.cookieReplies > 0; }));
    // The host answers every ping; the member sends one each pass, 400 in all.
    constexpr std::size_t pingCount = 400;
    std::size_t sent = 0;
    std::size_t echoed = 0;
    const std::vector<std::uint8_t> ping{1, 2, 3};
    const auto step = [&] {
        if (sent < pingCount && member->transport->send(hostId, pings, ping) == TransportStatus::ok)
            ++sent;
        member->poll();
        host->poll();
        for (; echoed < host->events.messages.size(); ++echoed)
            host->transport->send(memberId, pings, host->events.messages[echoed].bytes);
    };
    pumpUntil(
        step, [&] { return sent == pingCount && member->events.messages.size() == pingCount; },
        std::chrono::milliseconds(20000));
    EXPECT_EQ(sent, pingCount);
    EXPECT_GE(member->events.messages.size(), pingCount * 95 / 100)
        << "more than 5% of the member's pings lost under the flood";
    EXPECT_TRUE(member->events.lost.empty());

    // A new member handshakes during the flood: it needs a cookie, and gets in.
    auto late = makeNode();
    lateKey = late->transport->publicKey();
    const long sentBeforeLate = flood.sent;
    ASSERT_EQ(late->transport->openPeer(hostId, host->transport->route()), TransportStatus::ok);
    EXPECT_TRUE(pumpUntil(
        {host.get(), late.get(), member.get()},
        [&] { return late->transport->isConnected(hostId); }, std::chrono::milliseconds(10000)));
    std::cout << "the flood sent " << flood.sent << " initiations and got " << flood.cookieReplies
              << " cookie replies" << std::endl;
    EXPECT_GT(flood.sent, sentBeforeLate) << "the flood ended before the new member came";
}

} // namespace

namespace {

std::vector<std::uint8_t> relayRequest(PeerId to, std::uint8_t fill) {
    std::vector<std::uint8_t> request(relayHeaderSize + dataOverhead + 40, fill);
    encodeRelayHeader(DatagramType::relayRequest, to, request.data());
    request[relayHeaderSize] = static_cast<std::uint8_t>(DatagramType::data);
    return request;
}

TEST(RelayRefusal, OnlyAMemberGetsOneDatagramForwardedForOne) {
    RawSocket stranger;
    std::vector<PublicKey> members;
    auto host = makeNode(loopbackSettings());
    host->transport->setKeyFilter([&](const PublicKey& key) {
        return std::find(members.begin(), members.end(), key) != members.end()
                   ? KeyAccess::member
                   : KeyAccess::newcomer;
    });
    RawPeer member(*host->transport);
    RawPeer target(*host->transport);
    RawPeer newcomer(*host->transport);
    members = {member.keys.publicKey, target.keys.publicKey};
    for (auto* peer : {&member, &target, &newcomer})
        ASSERT_TRUE(peer->handshake(*host));

    // Refused, without an answer: a stranger, a newcomer, a member asking
    // for itself or for a stranger, a relayed datagram handed to the relay.
    stranger.sendTo(endpointOf(*host->transport), relayRequest(target.id(), 1));
    newcomer.sendRaw(relayRequest(target.id(), 2));
    member.sendRaw(relayRequest(member.id(), 3));
    member.sendRaw(relayRequest(newcomer.id(), 4));
    auto wrongType = relayRequest(target.id(), 5);
    wrongType[0] = static_cast<std::uint8_t>(DatagramType::relayed);
    member.sendRaw(wrongType);
    // Served: one datagram of the same size, the sender named in it.
    const auto served = relayRequest(target.id(), 6);
    member.sendRaw(served);

    std::vector<std::vector<std::uint8_t>> relayed;
    ASSERT_TRUE(pumpUntil({host.get()}, [&] {
        while (auto datagram = target.receiveRaw())
            if ((*datagram)[0] == static_cast<std::uint8_t>(DatagramType::relayed))
                relayed.push_back(*datagram);
        return !relayed.empty();
    }));
    auto expected = served;
    encodeRelayHeader(DatagramType::relayed, member.id(), expected.data());
    EXPECT_EQ(relayed.front(), expected);
    for (auto* peer : {&member, &newcomer})
        while (auto datagram = peer->receiveRaw())
            EXPECT_NE((*datagram)[0], static_cast<std::uint8_t>(DatagramType::relayed));
    EXPECT_FALSE(stranger.receive()) << "a stranger got an answer";
}

// Where a core is seen from comes only from answers to its own probes: an
// answer with a token it never sent changes nothing, and a liar that
// answers the real probes holds one entry of the route whatever it says.
TEST(ReflexiveBound, OnlyAnswersToOwnProbesCountAndOnePeerHoldsOneEntry) {
    auto settings = loopbackSettings();
    settings.probeInterval = Milliseconds(20);
    auto node = makeNode(settings);
    node->transport->setKeyFilter([](const PublicKey&) { return KeyAccess::member; });
    RawPeer liar(*node->transport);
    ASSERT_TRUE(liar.handshake(*node));
    const std::string before = node->transport->route();
    for (std::uint16_t i = 1; i <= 20; ++i)
        liar.send(Frame{FrameKind::probeAnswer,
                        {},
                        0,
                        0,
                        {},
                        i,
                        Endpoint{0x0b000000u + i, static_cast<std::uint16_t>(40000 + i)}});
    int answered = 0;
    Endpoint last;
    bool unaskedTaken = false;
    ASSERT_TRUE(pumpUntil({node.get()}, [&] {
        unaskedTaken =
            unaskedTaken || node->transport->route().find(" 11.0.0.") != std::string::npos;
        for (const auto& frame : liar.receiveFrames()) {
            if (frame.kind != FrameKind::probe)
                continue;
            ++answered;
            last = Endpoint{0x0b010000u + static_cast<std::uint32_t>(answered), 4000};
            liar.send(Frame{FrameKind::probeAnswer, {}, 0, 0, {}, frame.token, last});
        }
        return answered >= 5 && node->transport->route() == before + " " + last.toString();
    })) << node->transport->route();
    EXPECT_FALSE(unaskedTaken) << "an answer to a probe never sent named the route";
}

} // namespace
