#include "sdk/control/ControlProtocol.h"
#include "sdk/control/LineReader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string withoutNewline(std::string line) {
    EXPECT_EQ(line.back(), '\n');
    line.pop_back();
    return line;
}

TEST(ControlProtocol, EveryServerMessageDecodesToItself) {
    const std::vector<ServerMessage> messages = {
        HelloMessage{},
        HelloMessage{7},
        UserMessage{"Ana María 🎮"},
        UserMessage{""},
        ActivityMessage{"Hosting a VPN"},
        PartyMessage{2, 8},
        PartyMessage{0, 0},
        PartyIdMessage{"-42"},
        PartyIdMessage{""},
        InvitationMessage{"vaskor1.AbC-_09"},
        InvitationMessage{""},
        StateEndMessage{},
        OpenInviteMessage{},
        OkMessage{},
        ErrorMessage{"the invitation is empty"},
        JoinResultMessage{true, {}},
        JoinPendingMessage{},
        JoinResultMessage{false, "the lobby is full"},
        MemberMessage{MemberMessage::Path::self, {}, std::nullopt, "alice"},
        MemberMessage{MemberMessage::Path::direct, "11.2.0.2:40000", 412, "user 42"},
        MemberMessage{MemberMessage::Path::relayed, "11.2.0.101:5000", 1'234'567, "bob smith"},
        MemberMessage{MemberMessage::Path::connecting, {}, 0, ""},
    };
    for (const auto& message : messages) {
        const std::string line = withoutNewline(encodeServerMessage(message));
        const auto decoded = decodeServerMessage(line);
        ASSERT_TRUE(decoded.message) << line << ": " << decoded.error;
        EXPECT_EQ(*decoded.message, message) << line;
    }
    const JoinRequest join{"vaskor1.xyz"};
    const auto decoded = decodeJoinRequest(withoutNewline(encodeJoinRequest(join)));
    ASSERT_TRUE(decoded.message) << decoded.error;
    EXPECT_EQ(*decoded.message, join);
}

// A value that would break the framing or the client's display is made safe
// before it is sent, never sent as it is.
TEST(ControlProtocol, EncodingMakesOutsideTextsSafe) {
    EXPECT_EQ(encodeServerMessage(UserMessage{"Eve\nerror owned"}), "user Eve error owned\n");
    EXPECT_EQ(encodeServerMessage(ActivityMessage{std::string("a\0b\x7f", 4)}), "activity a b \n");
    EXPECT_EQ(encodeServerMessage(UserMessage{"caf\xc3"}), "user caf?\n");
    EXPECT_EQ(encodeServerMessage(PartyMessage{-3, 2000000}), "party 0 999999\n");
    const std::string longName(300, 'x');
    EXPECT_EQ(encodeServerMessage(UserMessage{longName}), "user " + std::string(255, 'x') + "\n");
    // Cut at a character boundary: 127 ASCII bytes then a 2-byte letter.
    const std::string invitation = "vaskor1." + std::string(118, 'a') + "\xc3\xa9";
    EXPECT_EQ(encodeServerMessage(InvitationMessage{invitation}),
              "invitation vaskor1." + std::string(118, 'a') + "\n");
}

TEST(ControlProtocol, MalformedServerLinesAreRefused) {
    const std::vector<std::string> lines = {
        "",
        "hello",
        "hello vaskor-sdk-control",
        "hello vaskor-sdk-control ",
        "hello vaskor-sdk-control -1",
        "hello vaskor-sdk-control 1x",
        "hello other-protocol 1",
        "party",
        "party 2",
        "party 2 ",
        "party 2 8 9",
        "party -2 8",
        "party +2 8",
        "party 02 8",
        "party 2 99999999999",
        "party two eight",
        "end now",
        "ok ok",
        "open-invite x",
        "OK",
        "user \x01",
        "user caf\xc3",
        "user \xed\xa0\x80",     // a UTF-16 surrogate
        "user \xc0\xaf",         // an overlong '/'
        "user \xf4\x90\x80\x80", // above U+10FFFF
        "user \xc2\x85",         // a C1 control character
        "user " + std::string(256, 'a'),
        "invitation " + std::string(128, 'a'),
        std::string(1025, 'a'),
        "frobnicate",
        std::string("user a\0b", 8),
    };
    for (const auto& line : lines) {
        const auto decoded = decodeServerMessage(line);
        EXPECT_FALSE(decoded.message) << "accepted: " << line;
        EXPECT_FALSE(decoded.error.empty()) << line;
    }
}

TEST(ControlProtocol, MalformedRequestsAreRefused) {
    const std::vector<std::string> lines = {
        "",
        "joi",
        "JOIN vaskor1.x",
        "invitation",
        "join vaskor1." + std::string(120, 'a'),
        "join vaskor1.\x1b[2J",
        std::string("join vaskor1.\0", 14),
    };
    for (const auto& line : lines)
        EXPECT_FALSE(decodeJoinRequest(line).message) << "accepted: " << line;
    for (const auto& line : {"members x", "members ", "Members"})
        EXPECT_FALSE(decodeClientRequest(line).message) << "accepted: " << line;
    const auto members = decodeClientRequest(withoutNewline(encodeMembersRequest()));
    ASSERT_TRUE(members.message) << members.error;
    EXPECT_TRUE(std::holds_alternative<MembersRequest>(*members.message));
    const auto join = decodeClientRequest("join vaskor1.x");
    ASSERT_TRUE(join.message);
    EXPECT_EQ(std::get<JoinRequest>(*join.message).invitation, "vaskor1.x");
}

// A member line is exact: a known path, an endpoint or -, milliseconds with
// three decimals or -, then the name; a core's endpoint text that is not an
// endpoint is never passed on.
TEST(ControlProtocol, MemberLinesAreStrict) {
    EXPECT_EQ(
        encodeServerMessage(MemberMessage{MemberMessage::Path::direct, "1.2.3.4:5", 1005, "a"}),
        "member direct 1.2.3.4:5 1.005 a\n");
    EXPECT_EQ(
        encodeServerMessage(MemberMessage{MemberMessage::Path::relayed, "no endpoint", {}, "b\nc"}),
        "member relayed - - b c\n");
    const std::vector<std::string> refused = {
        "member",
        "member direct - -",
        "member sideways - - a",
        "member direct 1.2.3.4:5 1.5 a",
        "member direct 1.2.3.4:5 01.500 a",
        "member direct 1.2.3.4:5 -1.000 a",
        "member direct 1.2.3.4:5 1234567.000 a",
        "member direct host:5 1.000 a",
        "member direct 1.2.3.4:5 1.000 a\x1b",
        "member direct  1.000 a",
    };
    for (const auto& line : refused)
        EXPECT_FALSE(decodeServerMessage(line).message) << "accepted: " << line;
}

TEST(ControlProtocol, InvitationsAreCheckedForShape) {
    EXPECT_EQ(invitationProblem("vaskor1.AbC-_09"), std::nullopt);
    EXPECT_EQ(invitationProblem("vaskor1." + std::string(119, 'a')), std::nullopt);
    const std::vector<std::string> refused = {
        "",
        "vaskor1." + std::string(120, 'a'),
        "vaskor1.ab cd",
        "vaskor1.ab\ncd",
        "vaskor1.caf\xc3\xa9",
        "hello",
        "vaskor2.abc",
    };
    for (const auto& text : refused)
        EXPECT_NE(invitationProblem(text), std::nullopt) << text;
    EXPECT_EQ(trimWhiteSpace("  vaskor1.x \r\n"), "vaskor1.x");
    EXPECT_EQ(trimWhiteSpace(" \t\n"), "");
}

TEST(LineReader, CutsLinesAcrossChunks) {
    LineReader reader(16);
    reader.append("ab");
    EXPECT_EQ(reader.next(), std::nullopt);
    reader.append("c\r\nde\n\nf");
    EXPECT_EQ(reader.next(), "abc");
    EXPECT_EQ(reader.next(), "de");
    EXPECT_EQ(reader.next(), "");
    EXPECT_EQ(reader.next(), std::nullopt);
    reader.append("\n");
    EXPECT_EQ(reader.next(), "f");
    EXPECT_FALSE(reader.overflowed());
}

TEST(LineReader, ALineBeyondTheBoundEndsTheStream) {
    LineReader unterminated(16);
    unterminated.append(std::string(17, 'a'));
    EXPECT_EQ(unterminated.next(), std::nullopt);
    EXPECT_TRUE(unterminated.overflowed());
    unterminated.append("\nok\n");
    EXPECT_EQ(unterminated.next(), std::nullopt);

    LineReader terminated(16);
    terminated.append(std::string(16, 'a') + "\n" + std::string(17, 'b') + "\nc\n");
    EXPECT_EQ(terminated.next(), std::string(16, 'a'));
    EXPECT_EQ(terminated.next(), std::nullopt);
    EXPECT_TRUE(terminated.overflowed());
}

} // namespace
