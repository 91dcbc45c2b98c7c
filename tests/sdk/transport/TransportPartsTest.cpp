// The transport's parts on their own: replay window, route text, reliable
// channel under loss, duplication and reordering, and the handshake.

#include "sdk/transport/Handshake.h"
#include "sdk/transport/ReliableChannel.h"
#include "sdk/transport/ReplayWindow.h"
#include "sdk/transport/Route.h"
#include "sdk/transport/Wire.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace sdk::transport;

namespace {

TEST(ReplayWindow, AcceptsEachCounterOnceAndForgetsTheTooOld) {
    ReplayWindow window;
    for (std::uint64_t counter : {0, 1, 5, 3, 2000, 1999, 100})
        EXPECT_TRUE(window.isFresh(counter)) << counter;
    for (std::uint64_t counter : {0, 1, 5, 3, 2000})
        window.accept(counter);
    for (std::uint64_t counter : {0, 1, 5, 3, 2000})
        EXPECT_FALSE(window.isFresh(counter)) << "replayed " << counter;
    EXPECT_FALSE(window.isFresh(2000 - ReplayWindow::span - 1)) << "too old";
    EXPECT_TRUE(window.isFresh(2000 - ReplayWindow::span)) << "oldest still remembered";
    EXPECT_TRUE(window.isFresh(1999));
    window.accept(1999);
    EXPECT_FALSE(window.isFresh(1999));
    // A jump far ahead forgets everything before the new window.
    window.accept(1'000'000);
    EXPECT_FALSE(window.isFresh(2000));
    EXPECT_TRUE(window.isFresh(1'000'000 - 64));
    EXPECT_FALSE(window.isFresh(1'000'000));
}

TEST(ReplayWindow, AdvancingOneBlockAtATimeKeepsRecentBits) {
    ReplayWindow window;
    std::mt19937 random(7);
    std::vector<std::uint64_t> accepted;
    for (std::uint64_t counter = 0; counter < 10000; counter += 1 + random() % 3) {
        window.accept(counter);
        accepted.push_back(counter);
    }
    const std::uint64_t newest = accepted.back();
    for (const auto counter : accepted) {
        if (newest - counter <= ReplayWindow::span) {
            EXPECT_FALSE(window.isFresh(counter)) << counter;
        }
    }
    for (std::uint64_t counter = newest - 100; counter < newest; ++counter) {
        if (!std::binary_search(accepted.begin(), accepted.end(), counter)) {
            EXPECT_TRUE(window.isFresh(counter)) << counter;
        }
    }
}

struct RouteCase {
    const char* name;
    std::string text;
    bool valid;
};

std::string keyText() {
    PublicKey key{};
    for (std::size_t i = 0; i < key.size(); ++i)
        key[i] = static_cast<std::uint8_t>(i * 9);
    return keyToText(key);
}

class RouteParseTest : public ::testing::TestWithParam<RouteCase> {};

TEST_P(RouteParseTest, AcceptsOnlyWellFormedRoutes) {
    const auto route = parseRoute(GetParam().text);
    EXPECT_EQ(route.has_value(), GetParam().valid) << GetParam().text;
    if (route) {
        EXPECT_EQ(formatRoute(*route), GetParam().text) << "a route reads back as written";
    }
}

std::string manyEndpoints(int count) {
    std::string text = "vr1 " + keyText();
    for (int i = 0; i < count; ++i)
        text += " 10.0.0." + std::to_string(i + 1) + ":4000";
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, RouteParseTest,
    ::testing::Values(
        RouteCase{"OneEndpoint", "vr1 " + keyText() + " 10.1.2.3:5000", true},
        RouteCase{"TwoEndpoints", "vr1 " + keyText() + " 10.1.2.3:5000 127.0.0.1:65535", true},
        RouteCase{"SixteenEndpoints", manyEndpoints(16), true},
        RouteCase{"SeventeenEndpoints", manyEndpoints(17), false},
        RouteCase{"NoEndpoint", "vr1 " + keyText(), false},
        RouteCase{"OtherVersion", "vr2 " + keyText() + " 10.1.2.3:5000", false},
        RouteCase{"DoubleSpace", "vr1  " + keyText() + " 10.1.2.3:5000", false},
        RouteCase{"TrailingSpace", "vr1 " + keyText() + " 10.1.2.3:5000 ", false},
        RouteCase{"ShortKey", "vr1 " + keyText().substr(1) + " 10.1.2.3:5000", false},
        RouteCase{"KeyWithPadding", "vr1 " + keyText() + "= 10.1.2.3:5000", false},
        RouteCase{"PortZero", "vr1 " + keyText() + " 10.1.2.3:0", false},
        RouteCase{"PortTooLarge", "vr1 " + keyText() + " 10.1.2.3:65536", false},
        RouteCase{"PortLeadingZero", "vr1 " + keyText() + " 10.1.2.3:05000", false},
        RouteCase{"PortSign", "vr1 " + keyText() + " 10.1.2.3:+500", false},
        RouteCase{"AddressOutOfRange", "vr1 " + keyText() + " 10.1.2.256:5000", false},
        RouteCase{"AddressShort", "vr1 " + keyText() + " 10.1.2:5000", false},
        RouteCase{"NoPort", "vr1 " + keyText() + " 10.1.2.3", false}, RouteCase{"Empty", "", false},
        RouteCase{"Ipv6", "vr1 " + keyText() + " [2001:db8::1]:5000", true},
        RouteCase{"BothFamilies", "vr1 " + keyText() + " 10.1.2.3:5000 [2001:db8:0:1::2]:4000",
                  true},
        RouteCase{"Ipv6Full", "vr1 " + keyText() + " [2001:db8:1:2:3:4:5:6]:1", true},
        RouteCase{"Ipv6NotShortest", "vr1 " + keyText() + " [2001:db8:0::1]:5000", false},
        RouteCase{"Ipv6LeadingZeros", "vr1 " + keyText() + " [2001:0db8::1]:5000", false},
        RouteCase{"Ipv6UpperCase", "vr1 " + keyText() + " [2001:DB8::1]:5000", false},
        RouteCase{"Ipv6Unbracketed", "vr1 " + keyText() + " 2001:db8::1:5000", false},
        RouteCase{"Ipv6NoPort", "vr1 " + keyText() + " [2001:db8::1]", false},
        RouteCase{"Ipv6EmptyPort", "vr1 " + keyText() + " [2001:db8::1]:", false},
        RouteCase{"Ipv6PortZero", "vr1 " + keyText() + " [2001:db8::1]:0", false},
        RouteCase{"Ipv6Zone", "vr1 " + keyText() + " [fe80::1%eth0]:5000", false},
        RouteCase{"Ipv6MappedIpv4", "vr1 " + keyText() + " [::ffff:10.1.2.3]:5000", false},
        RouteCase{"Ipv6TextAfterPort", "vr1 " + keyText() + " [2001:db8::1]:5000]", false},
        RouteCase{"Ipv6Empty", "vr1 " + keyText() + " []:5000", false},
        RouteCase{"NulInAddress", "vr1 " + keyText() + " 10.1.2.3" + std::string(1, '\0') + ":4",
                  false},
        RouteCase{"NulInIpv6Address",
                  "vr1 " + keyText() + " [2001:db8::1" + std::string(1, '\0') + "]:4", false}),
    [](const auto& info) { return std::string(info.param.name); });

// Both families in one value: an IPv4 endpoint stays IPv4 whichever way it was
// made, and the families never compare equal.
TEST(EndpointValue, OneSpellingPerAddressOfEitherFamily) {
    const Endpoint dotted{0x0a010203, 5000};
    Endpoint::Bytes mapped{};
    mapped[10] = 0xff;
    mapped[11] = 0xff;
    mapped[12] = 10;
    mapped[13] = 1;
    mapped[14] = 2;
    mapped[15] = 3;
    EXPECT_EQ(Endpoint::fromBytes(mapped, 5000), dotted);
    EXPECT_TRUE(dotted.isIpv4());
    EXPECT_EQ(dotted.toString(), "10.1.2.3:5000");
    EXPECT_TRUE(Endpoint{}.unspecifiedAddress());
    EXPECT_EQ(Endpoint{}.toString(), "0.0.0.0:0");

    const auto v6 = parseEndpoint("[2001:db8::a]:443");
    ASSERT_TRUE(v6);
    EXPECT_FALSE(v6->isIpv4());
    EXPECT_EQ(v6->ipv4(), 0u);
    EXPECT_EQ(v6->bytes()[0], 0x20);
    EXPECT_EQ(v6->bytes()[15], 0x0a);
    EXPECT_NE(*v6, dotted);
    EXPECT_TRUE(Endpoint::fromBytes({}, 1).unspecifiedAddress());
    EXPECT_EQ(Endpoint::fromBytes({}, 1).toString(), "[::]:1");
}

// The probe answer tells a peer its source of either family, or nothing when
// the probe came through a relay; a source of one family is never read as
// the other, and the IPv4 one keeps its short form.
TEST(ProbeAnswer, CarriesTheSourceOfEitherFamily) {
    const std::vector<std::pair<std::optional<Endpoint>, std::size_t>> cases{
        {std::nullopt, probeAnswerSize},
        {Endpoint{0x0b020001, 40000}, probeAnswerSize},
        {parseEndpoint("[2001:db8::5]:40000"), probeAnswerIpv6Size},
    };
    for (const auto& [observed, size] : cases) {
        std::array<std::uint8_t, maxDatagramSize> out{};
        const Frame answer{FrameKind::probeAnswer, {}, 0, 0, {}, 0x1122334455667788, observed};
        ASSERT_EQ(encodeFrame(answer, out.data()), size);
        const auto decoded = decodeFrame({out.data(), size});
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->token, answer.token);
        EXPECT_EQ(decoded->observed, observed);
        // Cut or lengthened by one byte, no answer is one.
        EXPECT_FALSE(decodeFrame({out.data(), size - 1}));
        EXPECT_FALSE(decodeFrame({out.data(), size + 1}));
    }
    // An IPv4 source in the IPv6 form is a second spelling.
    std::array<std::uint8_t, probeAnswerIpv6Size> mapped{};
    mapped[0] = static_cast<std::uint8_t>(FrameKind::probeAnswer);
    mapped[9] = 2;
    mapped[20] = mapped[21] = 0xff;
    mapped[22] = 10;
    mapped[26] = 1;
    EXPECT_FALSE(decodeFrame(mapped));
}

TEST(RouteText, LongerThan4095BytesIsRefused) {
    EXPECT_FALSE(parseRoute(std::string(4096, 'a')));
}

TEST(KeyText, OnlyTheCanonicalSpellingIsAKey) {
    const auto text = keyText();
    ASSERT_TRUE(keyFromText(text));
    std::string other = text;
    // The last character carries 4 unused bits; another value there is another spelling.
    other.back() = other.back() == 'A' ? 'B' : 'A';
    const auto decoded = keyFromText(other);
    EXPECT_TRUE(!decoded || keyToText(*decoded) == other);
}

// A sender and a receiver joined by a network that loses, duplicates and
// reorders parts and acknowledgements, with a clock that moves by hand.
TEST(ReliableChannel, EveryMessageOnceAndInOrderThroughABadNetwork) {
    std::mt19937 random(12345);
    ReliableSender sender(maxReliablePart);
    ReliableReceiver receiver;
    RoundTrip roundTrip;
    TimePoint now{};

    std::vector<std::vector<std::uint8_t>> sent;
    for (int i = 0; i < 300; ++i) {
        const std::size_t size = std::vector<std::size_t>{0, 1, 1437, 1438, 9000, 65536}[i % 6];
        std::vector<std::uint8_t> message(size);
        for (auto& byte : message)
            byte = static_cast<std::uint8_t>(random());
        ASSERT_TRUE(sender.push(message));
        sent.push_back(std::move(message));
        if (sender.queuedBytes() > maxReliableQueued / 2)
            break;
    }
    std::vector<std::vector<std::uint8_t>> delivered;
    struct InFlight {
        std::uint32_t sequence;
        bool last;
        std::vector<std::uint8_t> bytes;
    };
    int rounds = 0;
    while (!sender.idle() && rounds++ < 100000) {
        std::vector<InFlight> network;
        sender.sendDue(now, roundTrip, [&](const OutgoingPart& part) {
            if (random() % 100 < 20)
                return; // lost
            network.push_back({part.sequence, part.last, {part.bytes.begin(), part.bytes.end()}});
            if (random() % 100 < 10)
                network.push_back(network.back()); // duplicated
        });
        std::shuffle(network.begin(), network.end(), random); // reordered
        for (const auto& part : network)
            receiver.receive(part.sequence, part.last, part.bytes,
                             [&](std::span<const std::uint8_t> message) {
                                 delivered.emplace_back(message.begin(), message.end());
                             });
        now += std::chrono::milliseconds(5);
        if (random() % 100 >= 30) // acknowledgements get lost too
            sender.acknowledge(receiver.nextExpected(), receiver.receivedAfter(), now, roundTrip);
        if (random() % 10 == 0)
            now += roundTrip.timeout();
    }
    ASSERT_TRUE(sender.idle()) << "not everything was acknowledged";
    ASSERT_EQ(delivered.size(), sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i)
        ASSERT_EQ(delivered[i], sent[i]) << "message " << i;
}

TEST(ReliableChannel, RefusesMoreThanTheBounds) {
    ReliableSender sender(maxReliablePart);
    EXPECT_FALSE(sender.push(std::vector<std::uint8_t>(maxReliableMessage + 1)));
    std::vector<std::uint8_t> large(maxReliableMessage);
    std::size_t accepted = 0;
    while (sender.push(large))
        accepted += large.size();
    EXPECT_LE(accepted, maxReliableQueued);
    EXPECT_GT(accepted + large.size(), maxReliableQueued);
}

TEST(ReliableChannel, NeverSendsMoreThanTheWindowUnacknowledged) {
    ReliableSender sender(10);
    RoundTrip roundTrip;
    for (int i = 0; i < 1000; ++i)
        sender.push(std::vector<std::uint8_t>(10, 1));
    std::vector<std::uint32_t> sequences;
    sender.sendDue(TimePoint{}, roundTrip,
                   [&](const OutgoingPart& part) { sequences.push_back(part.sequence); });
    EXPECT_EQ(sequences.size(), reliableWindow);
    sender.acknowledge(10, 0, TimePoint{}, roundTrip);
    sequences.clear();
    sender.sendDue(TimePoint{}, roundTrip,
                   [&](const OutgoingPart& part) { sequences.push_back(part.sequence); });
    EXPECT_EQ(sequences.size(), 10u) << "only as many new parts as were acknowledged";
    EXPECT_EQ(sequences.front(), reliableWindow);
}

// The core's wait handle sleeps until this time: it must be the moment
// sendDue next has something to send, and none while nothing is left.
TEST(ReliableChannel, NextDueIsWhenSendDueNextSends) {
    ReliableSender sender(10);
    RoundTrip roundTrip;
    EXPECT_FALSE(sender.nextDue(roundTrip)) << "nothing queued";
    sender.push(std::vector<std::uint8_t>(25, 1)); // three parts
    const TimePoint start{std::chrono::seconds(100)};
    ASSERT_TRUE(sender.nextDue(roundTrip));
    EXPECT_LE(*sender.nextDue(roundTrip), start) << "unsent parts are due at once";

    int sent = 0;
    const auto count = [&](const OutgoingPart&) { ++sent; };
    sender.sendDue(start, roundTrip, count);
    ASSERT_EQ(sent, 3);
    ASSERT_TRUE(sender.nextDue(roundTrip));
    const TimePoint due = *sender.nextDue(roundTrip);
    EXPECT_EQ(due, start + roundTrip.timeout());
    sender.sendDue(due - std::chrono::microseconds(1), roundTrip, count);
    EXPECT_EQ(sent, 3) << "nothing is sent before the time it gives";
    sender.sendDue(due, roundTrip, count);
    EXPECT_EQ(sent, 6) << "every part is sent again at that time";

    sender.acknowledge(3, 0, due, roundTrip);
    EXPECT_FALSE(sender.nextDue(roundTrip)) << "all acknowledged";
}

TEST(Handshake, BothEndsDeriveMatchingKeysAndProveTheirStaticKeys) {
    const KeyPair initiator = KeyPair::generate();
    const KeyPair responder = KeyPair::generate();
    const KeyPair stranger = KeyPair::generate();
    const auto initiation = makeInitiation(initiator, responder.publicKey, 7, 1, 99, 3);

    EXPECT_FALSE(verifyInitiation(stranger, initiation.datagram))
        << "only the key the initiator named can verify it";
    const auto verified = verifyInitiation(responder, initiation.datagram);
    ASSERT_TRUE(verified);
    EXPECT_EQ(verified->initiation.staticKey, initiator.publicKey);
    EXPECT_EQ(verified->initiation.incarnation, 99u);

    auto forged = initiation.datagram;
    forged[80] ^= 1;
    EXPECT_FALSE(verifyInitiation(responder, forged)) << "a changed initiation fails its MAC";

    const auto response = makeResponse(responder, verified->initiation, 11, 5, 3);
    ASSERT_TRUE(response);
    EXPECT_FALSE(
        acceptResponse(initiator, stranger.publicKey, initiation.pending, response->datagram))
        << "a response is accepted only from the key the route named";
    const auto accepted =
        acceptResponse(initiator, responder.publicKey, initiation.pending, response->datagram);
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted->keys.send, response->keys.receive);
    EXPECT_EQ(accepted->keys.receive, response->keys.send);
    EXPECT_NE(accepted->keys.send, accepted->keys.receive);
    EXPECT_EQ(accepted->cipher, response->cipher);

    // A stranger that answers in the responder's place cannot make a valid response.
    const auto impostor = makeResponse(stranger, verified->initiation, 11, 5, 3);
    ASSERT_TRUE(impostor);
    EXPECT_FALSE(
        acceptResponse(initiator, responder.publicKey, initiation.pending, impostor->datagram));
}

TEST(Handshake, EveryHandshakeGivesNewSessionKeys) {
    const KeyPair initiator = KeyPair::generate();
    const KeyPair responder = KeyPair::generate();
    SymmetricKey previous{};
    for (int i = 0; i < 3; ++i) {
        const auto initiation = makeInitiation(initiator, responder.publicKey, 1, i + 1, 1, 1);
        const auto verified = verifyInitiation(responder, initiation.datagram);
        ASSERT_TRUE(verified);
        const auto response = makeResponse(responder, verified->initiation, 2, 1, 1);
        ASSERT_TRUE(response);
        EXPECT_NE(response->keys.send, previous);
        previous = response->keys.send;
    }
}

TEST(Aead, CipherChoiceNeedsBothEnds) {
    const auto chacha = static_cast<std::uint8_t>(Cipher::chacha20Poly1305);
    const auto both =
        static_cast<std::uint8_t>(chacha | static_cast<std::uint8_t>(Cipher::aes256Gcm));
    EXPECT_EQ(chooseCipher(both, both), Cipher::aes256Gcm);
    EXPECT_EQ(chooseCipher(both, chacha), Cipher::chacha20Poly1305);
    EXPECT_EQ(chooseCipher(chacha, both), Cipher::chacha20Poly1305);
}

TEST(Aead, SealedDatagramsOpenOnlyUnchanged) {
    SymmetricKey key{};
    key[0] = 1;
    for (const Cipher cipher : {Cipher::chacha20Poly1305, Cipher::aes256Gcm}) {
        if (cipher == Cipher::aes256Gcm && !(availableCiphers(true) & 2))
            continue;
        PacketCipher packet(cipher, key);
        const std::vector<std::uint8_t> header{1, 2, 3};
        const std::vector<std::uint8_t> plain(100, 42);
        std::vector<std::uint8_t> sealed(plain.size() + aeadTagSize);
        packet.seal(9, header, plain, sealed.data());
        std::vector<std::uint8_t> opened(plain.size());
        EXPECT_TRUE(packet.open(9, header, sealed, opened.data()));
        EXPECT_EQ(opened, plain);
        EXPECT_FALSE(packet.open(10, header, sealed, opened.data())) << "another counter";
        // The transport seals in place, where the frame was written.
        std::vector<std::uint8_t> inPlace(plain);
        inPlace.resize(plain.size() + aeadTagSize);
        packet.seal(9, header, std::span(inPlace).first(plain.size()), inPlace.data());
        EXPECT_EQ(inPlace, sealed);
        sealed[5] ^= 1;
        EXPECT_FALSE(packet.open(9, header, sealed, opened.data())) << "changed bytes";
    }
}

} // namespace
