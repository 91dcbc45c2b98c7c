#pragma once

// The control socket's wire protocol: one message per line, in UTF-8 text,
// ended by "\n". A line holds a word, then optionally one space and the
// message's argument. Texts never hold control characters, so a line break can
// never hide inside a value.
//
// core -> client:
//   hello vaskor-sdk-control 1   first line on every connection
//   user <text>                  the lines user, activity, party and
//   activity <text>              invitation, then end, are one snapshot of
//   party <size> <capacity>      what the window shows: sent on connection
//   party-id [<text>]            and after every change (invitation with no
//   invitation [<text>]          text: none yet; party-id with no text: no
//   end                          party)
//   open-invite                  the program asked to show the invitation
//   join-pending                 before the ok to a join: the result will follow
//   joined                       the program joined the lobby of a delivered invitation
//   join-failed <text>           it could not, and why, in words for a person
//   member <path> <endpoint> <round trip> <name>
//                                one lobby member, in the answer to members:
//                                path self, direct, relayed or connecting;
//                                endpoint a.b.c.d:port (the relay's when
//                                relayed) or -; round trip in milliseconds
//                                (three decimals) or -; then the name
//   ok                           the request was taken (after a members answer's lines)
//   error <text>                 the request (or connection) was refused, and why
// client -> core:
//   join <invitation>            an invitation received from a friend
//   members                      the lobby's members and how they are reached

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace controlLimits {
// Longest line in either direction, without its "\n".
inline constexpr std::size_t lineBytes = 1024;
// Longest user name, activity or error text.
inline constexpr std::size_t textBytes = 255;
// The SDK's 128-byte secret field, less its NUL.
inline constexpr std::size_t invitationBytes = 127;
// Largest party size or capacity.
inline constexpr std::int32_t partyMembers = 999999;
} // namespace controlLimits

inline constexpr std::string_view controlProtocolName = "vaskor-sdk-control";
inline constexpr int controlProtocolVersion = 1;
// Every invitation of this SDK begins so; anything else was pasted by mistake.
inline constexpr std::string_view invitationPrefix = "vaskor1.";

// What the client window shows.
struct ControlState {
    std::string userName;
    std::string activityState;  // for example "Hosting a VPN"
    std::int32_t partySize = 0; // 0 when there is no party
    std::int32_t partyCapacity = 0;
    std::string invitation; // empty until the program opened the invitation
    std::string partyId;    // empty when there is no party

    bool operator==(const ControlState&) const = default;
};

struct HelloMessage {
    int version = controlProtocolVersion;
    bool operator==(const HelloMessage&) const = default;
};
struct UserMessage {
    std::string name;
    bool operator==(const UserMessage&) const = default;
};
struct ActivityMessage {
    std::string state;
    bool operator==(const ActivityMessage&) const = default;
};
struct PartyMessage {
    std::int32_t size = 0;
    std::int32_t capacity = 0;
    bool operator==(const PartyMessage&) const = default;
};
struct PartyIdMessage {
    std::string id;
    bool operator==(const PartyIdMessage&) const = default;
};
struct InvitationMessage {
    std::string text;
    bool operator==(const InvitationMessage&) const = default;
};
struct StateEndMessage {
    bool operator==(const StateEndMessage&) const = default;
};
struct OpenInviteMessage {
    bool operator==(const OpenInviteMessage&) const = default;
};
// The end of a join from a delivered invitation. Clients of version 1 that
// predate it ignore these lines, so the version stays.
struct JoinResultMessage {
    bool joined = false;
    std::string text; // why not, when not joined
    bool operator==(const JoinResultMessage&) const = default;
};
struct JoinPendingMessage {
    bool operator==(const JoinPendingMessage&) const = default;
};
// One member of the lobby as the core reaches it now.
struct MemberMessage {
    enum class Path { self, direct, relayed, connecting };
    Path path = Path::connecting;
    std::string endpoint;                        // empty: none
    std::optional<std::int64_t> roundTripMicros; // none: not measured yet
    std::string name;
    bool operator==(const MemberMessage&) const = default;
};
std::string_view pathWord(MemberMessage::Path path);

struct OkMessage {
    bool operator==(const OkMessage&) const = default;
};
struct ErrorMessage {
    std::string text;
    bool operator==(const ErrorMessage&) const = default;
};

using ServerMessage =
    std::variant<HelloMessage, UserMessage, ActivityMessage, PartyMessage, PartyIdMessage,
                 InvitationMessage, StateEndMessage, OpenInviteMessage, OkMessage, ErrorMessage,
                 JoinResultMessage, JoinPendingMessage, MemberMessage>;

struct JoinRequest {
    std::string invitation;
    bool operator==(const JoinRequest&) const = default;
};
struct MembersRequest {
    bool operator==(const MembersRequest&) const = default;
};
using ClientRequest = std::variant<JoinRequest, MembersRequest>;

// A decoded line: the message, or why the line is not one.
template <typename Message> struct Decoded {
    std::optional<Message> message;
    std::string error;
};

// One line each, "\n" included. Texts are made valid first (sanitizeText), so
// every encoded line decodes again.
std::string encodeServerMessage(const ServerMessage& message);
std::string encodeJoinRequest(const JoinRequest& request);
std::string encodeMembersRequest();

// line: without its "\n".
Decoded<ServerMessage> decodeServerMessage(std::string_view line);
Decoded<JoinRequest> decodeJoinRequest(std::string_view line);
Decoded<ClientRequest> decodeClientRequest(std::string_view line);

// The lines of a whole snapshot, user to end.
std::string encodeState(const ControlState& state);

// Valid UTF-8 without control characters, at most maxBytes long.
bool isProtocolText(std::string_view text, std::size_t maxBytes);

// text made protocol text: control characters become spaces, bytes that are
// not UTF-8 become '?', and it is cut at a character boundary to maxBytes.
std::string sanitizeText(std::string_view text, std::size_t maxBytes);

// Why text cannot be an invitation, or nothing when it can.
std::optional<std::string> invitationProblem(std::string_view text);

// text without the white space around it, as a pasted invitation often has.
std::string_view trimWhiteSpace(std::string_view text);
