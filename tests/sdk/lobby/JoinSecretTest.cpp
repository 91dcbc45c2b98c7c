#include "sdk/lobby/JoinSecret.h"
#include "sdk/lobby/Admission.h"

#include <gtest/gtest.h>

#include <sodium.h>

#include <cstring>

using namespace sdk::lobby;

namespace {

JoinSecret sample(std::size_t endpoints) {
    JoinSecret secret;
    secret.lobbyId = 0x7fffffffffffffffLL;
    secret.lobbyKey = freshLobbyKey();
    randombytes_buf(secret.hostKey.data(), secret.hostKey.size());
    for (std::size_t i = 0; i < endpoints; ++i)
        secret.endpoints.push_back({0xc0a80000u + static_cast<std::uint32_t>(i) + 1,
                                    static_cast<std::uint16_t>(65535 - i)});
    return secret;
}

TEST(JoinSecret, RoundTripsAndFitsTheTextFieldWithFiveEndpoints) {
    for (std::size_t count = 1; count <= maxSecretEndpoints; ++count) {
        const auto secret = sample(count);
        const std::string text = formatJoinSecret(secret);
        EXPECT_TRUE(text.starts_with("vaskor1."));
        EXPECT_LE(text.size(), 127u);
        for (const char c : text)
            EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' ||
                        c == '.')
                << text;
        EXPECT_EQ(parseJoinSecret(text), secret);
    }
    auto many = sample(9);
    const auto parsed = parseJoinSecret(formatJoinSecret(many));
    ASSERT_TRUE(parsed);
    many.endpoints.resize(maxSecretEndpoints);
    EXPECT_EQ(*parsed, many) << "the first endpoints are kept";
    EXPECT_EQ(formatJoinSecret(sample(0)), "");
}

TEST(JoinSecret, RefusesWhatIsNotExactlyASecret) {
    const std::string good = formatJoinSecret(sample(2));
    std::string lastChanged = good;
    lastChanged.back() = lastChanged.back() == 'A' ? 'B' : 'A';
    auto zeroPort = sample(1);
    zeroPort.endpoints[0].port = 0;
    auto negativeId = sample(1);
    negativeId.lobbyId = -5;
    const std::vector<std::pair<const char*, std::string>> cases{
        {"empty", ""},
        {"prefix only", "vaskor1."},
        {"other version", "vaskor2." + good.substr(8)},
        {"padding", good + "="},
        {"white space", good + " "},
        {"line break inside", good.substr(0, 20) + "\n" + good.substr(20)},
        {"cut", good.substr(0, good.size() - 1)},
        {"cut by a whole endpoint", good.substr(0, good.size() - 8)},
        {"last character changed", lastChanged},
        {"too long", good + std::string(127 - good.size() + 1, 'A')},
        {"port 0", formatJoinSecret(zeroPort)},
        {"negative lobby id", formatJoinSecret(negativeId)},
    };
    for (const auto& [what, text] : cases)
        EXPECT_FALSE(parseJoinSecret(text)) << what;
}

using sdk::transport::Endpoint;

Endpoint v6(const char* text, std::uint16_t port) {
    return Endpoint::fromBytes(*sdk::os::parseIpv6Address(text), port);
}

// Which endpoints a secret keeps: five IPv4 ones, or the first IPv6 one with
// the first IPv4 one; whichever order the route had, IPv4 ones come first.
TEST(JoinSecret, KeepsTheEndpointsThatFitOfBothFamilies) {
    const Endpoint a{0x0b020001, 4000}, b{0xc0a80105, 4000}, c{0x0a000001, 65535};
    const Endpoint x = v6("2001:db8::1", 4000), y = v6("2001:db8:ffff::2", 1);
    const Endpoint full = v6("2001:db8:1:2:3:4:5:6", 65535);
    struct Case {
        const char* name;
        std::vector<Endpoint> route;
        std::vector<Endpoint> kept;
    };
    const std::vector<Case> cases{
        {"ipv6 only", {x}, {x}},
        {"ipv6 and ipv4", {a, x}, {a, x}},
        {"ipv6 first in the route", {x, a}, {a, x}},
        {"ipv6 with many ipv4", {a, b, x, c}, {a, x}},
        {"two ipv6", {y, x}, {y}},
        {"two ipv6 and ipv4", {x, y, b}, {b, x}},
        {"longest ipv6 text", {full, c}, {c, full}},
        {"five ipv4 stay", {a, b, c, a, b}, {a, b, c, a, b}},
    };
    for (const auto& test : cases) {
        auto secret = sample(0);
        secret.endpoints = test.route;
        const std::string text = formatJoinSecret(secret);
        EXPECT_LE(text.size(), 126u) << test.name;
        const auto parsed = parseJoinSecret(text);
        ASSERT_TRUE(parsed) << test.name << ": " << text;
        EXPECT_EQ(parsed->endpoints, test.kept) << test.name;
        EXPECT_EQ(formatJoinSecret(*parsed), text) << test.name;
    }
}

// Records of the right shape and check that still break the format's rules.
TEST(JoinSecret, RefusesMalformedIpv6Records) {
    const auto base = sample(0);
    const auto textOf = [&](const std::vector<std::uint8_t>& endpointBytes) {
        std::vector<std::uint8_t> record(8);
        for (int i = 0; i < 8; ++i)
            record[static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(static_cast<std::uint64_t>(base.lobbyId) >> (8 * i));
        record.insert(record.end(), base.lobbyKey.begin(), base.lobbyKey.end());
        record.insert(record.end(), base.hostKey.begin(), base.hostKey.end());
        record.insert(record.end(), endpointBytes.begin(), endpointBytes.end());
        std::uint8_t hash[crypto_generichash_BYTES_MIN];
        crypto_generichash(hash, sizeof hash, record.data(), record.size(), nullptr, 0);
        record.insert(record.end(), hash, hash + 2);
        std::string text(
            sodium_base64_ENCODED_LEN(record.size(), sodium_base64_VARIANT_URLSAFE_NO_PADDING),
            '\0');
        sodium_bin2base64(text.data(), text.size(), record.data(), record.size(),
                          sodium_base64_VARIANT_URLSAFE_NO_PADDING);
        text.resize(std::strlen(text.c_str()));
        return "vaskor1." + text;
    };
    const auto ipv6Entry = [](std::vector<std::uint8_t> address) {
        address.resize(16);
        address.push_back(0xa0);
        address.push_back(0x0f);
        return address;
    };
    const auto join = [](std::initializer_list<std::vector<std::uint8_t>> parts) {
        std::vector<std::uint8_t> all;
        for (const auto& part : parts)
            all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    const std::vector<std::uint8_t> ipv4Entry{10, 0, 0, 1, 0xa0, 0x0f};
    const auto global = ipv6Entry({0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1});
    const auto mapped = ipv6Entry({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 10, 0, 0, 1});
    auto zeroPort = global;
    zeroPort[16] = zeroPort[17] = 0;

    ASSERT_TRUE(parseJoinSecret(textOf(join({ipv4Entry, global, {1}})))) << "the fixture";
    const std::vector<std::pair<const char*, std::string>> cases{
        {"count 0", textOf(join({ipv4Entry, {0}}))},
        {"count larger than the entries", textOf(join({ipv4Entry, global, {2}}))},
        {"ipv6 entry cut", textOf(join({ipv4Entry, {global.begin(), global.end() - 1}, {1}}))},
        {"ipv4 after ipv6", textOf(join({global, ipv4Entry, {1}}))},
        {"ipv4 written as ipv6", textOf(join({mapped, {1}}))},
        {"unspecified ipv6", textOf(join({ipv6Entry({}), {1}}))},
        {"ipv6 port 0", textOf(join({zeroPort, {1}}))},
        {"two ipv4 with ipv6", textOf(join({ipv4Entry, ipv4Entry, global, {1}}))},
        {"ipv6 without its count", textOf(join({global}))},
    };
    for (const auto& [what, text] : cases)
        EXPECT_FALSE(parseJoinSecret(text)) << what;
}

TEST(Admission, ProofBindsKeyNoncesAndMemberKey) {
    const auto key = freshLobbyKey();
    AdmissionTranscript transcript;
    transcript.lobbyId = 77;
    randombytes_buf(transcript.hostKey.data(), 32);
    randombytes_buf(transcript.memberKey.data(), 32);
    transcript.memberNonce = freshNonce();
    transcript.hostNonce = freshNonce();
    transcript.memberUserId = 5;
    const Proof proof = proveAdmission(key, transcript);
    EXPECT_TRUE(verifyAdmission(key, transcript, proof));

    auto otherKey = key;
    otherKey[15] ^= 0x80;
    EXPECT_FALSE(verifyAdmission(otherKey, transcript, proof)) << "without the lobby key";

    // A recorded proof is worth nothing in another admission or for another key.
    std::vector<std::pair<const char*, AdmissionTranscript>> replays;
    auto changed = transcript;
    changed.hostNonce = freshNonce();
    replays.push_back({"fresh host nonce", changed});
    changed = transcript;
    changed.memberKey[0] ^= 1;
    replays.push_back({"another member key", changed});
    changed = transcript;
    changed.hostKey[31] ^= 1;
    replays.push_back({"another host", changed});
    changed = transcript;
    changed.lobbyId = 78;
    replays.push_back({"another lobby", changed});
    changed = transcript;
    changed.memberUserId = 6;
    replays.push_back({"another user", changed});
    for (const auto& [what, replay] : replays)
        EXPECT_FALSE(verifyAdmission(key, replay, proof)) << what;
}

} // namespace
