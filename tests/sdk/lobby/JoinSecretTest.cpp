#include "sdk/lobby/JoinSecret.h"
#include "sdk/lobby/Admission.h"

#include <gtest/gtest.h>

#include <sodium.h>

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
