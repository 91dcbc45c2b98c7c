#include "sdk/lobby/LobbyMessages.h"

#include <gtest/gtest.h>

using namespace sdk::lobby;

namespace {

sdk::transport::PublicKey keyOf(std::uint8_t fill) {
    sdk::transport::PublicKey key;
    key.fill(fill);
    return key;
}

std::vector<LobbyMessage> everyKind() {
    Welcome welcome{LobbySettings{9, 1, 100, 8, false}, {}};
    welcome.members.push_back(
        MemberRecord{100, keyOf(1), "Åsa", {{"$net.peer_id", "1"}, {"empty", ""}}});
    welcome.members.push_back(MemberRecord{200, keyOf(2), std::string(maxUserNameBytes, 'n'), {}});
    return {
        JoinRequest{9, freshNonce(), 200, "bob"},
        Challenge{freshNonce()},
        AdmissionProof{Proof{}},
        welcome,
        MetadataUpdate{{{"$net.route", "vr1 x 1.2.3.4:5"}, {"gone", std::nullopt}}},
        MemberJoined{300, keyOf(3), "カルラ"},
        MemberUpdated{300, {{"a", std::string(4095, 'v')}}},
        MemberLeft{300},
        Refusal{RefusalReason::lobbyFull},
        LobbyState{welcome.lobby, welcome.members},
    };
}

TEST(LobbyMessages, EveryKindRoundTripsAndEveryCutIsRefused) {
    for (const auto& message : everyKind()) {
        const auto bytes = encodeLobbyMessage(message);
        EXPECT_EQ(decodeLobbyMessage(bytes), message) << "type " << int(bytes[0]);
        for (std::size_t size = 0; size < bytes.size(); ++size)
            EXPECT_FALSE(decodeLobbyMessage(std::span(bytes).first(size)))
                << "type " << int(bytes[0]) << " cut to " << size;
        auto longer = bytes;
        longer.push_back(0);
        EXPECT_FALSE(decodeLobbyMessage(longer)) << "bytes left over";
    }
}

std::vector<std::uint8_t> withByteAt(std::vector<std::uint8_t> bytes, std::size_t at,
                                     std::uint8_t value) {
    bytes.at(at) = value;
    return bytes;
}

TEST(LobbyMessages, RefusesValuesBeyondTheLimits) {
    const auto nulInKey = encodeLobbyMessage(MemberUpdated{1, {{std::string("a\0b", 3), "v"}}});
    const auto emptyKey = encodeLobbyMessage(MetadataUpdate{{{"", "v"}}});
    const auto longValue = encodeLobbyMessage(MetadataUpdate{{{"k", std::string(4096, 'v')}}});
    // Welcome: capacity at byte 21, member count at byte 26.
    const auto welcome = encodeLobbyMessage(everyKind()[3]);
    const auto left = encodeLobbyMessage(MemberLeft{1});
    std::vector<std::uint8_t> twice =
        encodeLobbyMessage(MemberUpdated{1, {{"a", "1"}, {"b", "2"}}});
    twice[twice.size() - 4] = 'a'; // the second key "b" becomes "a": one key twice
    const auto request = [](std::string name) {
        return encodeLobbyMessage(JoinRequest{9, Nonce{}, 1, std::move(name)});
    };
    const auto joined = [](std::string name) {
        return encodeLobbyMessage(MemberJoined{1, keyOf(1), std::move(name)});
    };
    Welcome badWelcome{LobbySettings{9, 1, 100, 8, false}, {}};
    badWelcome.members.push_back(MemberRecord{100, keyOf(1), "host\x1b[2J", {}});
    const std::vector<std::pair<const char*, std::vector<std::uint8_t>>> cases{
        {"NUL in a key", nulInKey},
        {"empty key", emptyKey},
        {"value of 4096 bytes", longValue},
        {"capacity beyond the largest lobby", withByteAt(welcome, 21, 17)},
        {"more members than the capacity", withByteAt(welcome, 26, 9)},
        {"no members", withByteAt(welcome, 26, 0)},
        {"a key twice", twice},
        {"unknown type", withByteAt(left, 0, 42)},
        {"unknown refusal", withByteAt(encodeLobbyMessage(Refusal{}), 1, 9)},
        {"join request without a name", request("")},
        {"join request with a name too long", request(std::string(maxUserNameBytes + 1, 'n'))},
        {"join request with a newline in the name", request("eve\nhost")},
        {"member joined with a broken UTF-8 name", joined("\xc3")},
        {"member joined with a C1 control in the name", joined("a\xc2\x9b")},
        {"welcome with an escape in a member's name", encodeLobbyMessage(badWelcome)},
    };
    for (const auto& [what, bytes] : cases)
        EXPECT_FALSE(decodeLobbyMessage(bytes)) << what;
}

TEST(LobbyMessages, ChangesApplyWithinTheMemberLimit) {
    const Metadata start{{"keep", "1"}, {"gone", "2"}};
    const auto changed = applyChanges(start, {{"gone", std::nullopt}, {"new", "3"}});
    EXPECT_EQ(changed, (Metadata{{"keep", "1"}, {"new", "3"}}));
    std::vector<MetadataChange> tooMuch;
    for (int i = 0; i < 4; ++i)
        tooMuch.push_back({"k" + std::to_string(i), std::string(4095, 'v')});
    EXPECT_FALSE(applyChanges(start, tooMuch)) << "one member's metadata is bounded";
}

} // namespace
