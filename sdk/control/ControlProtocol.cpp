#include "sdk/control/ControlProtocol.h"

#include <algorithm>
#include <charconv>

namespace {

bool inRange(unsigned char byte, unsigned char low, unsigned char high) {
    return byte >= low && byte <= high;
}

// Length of the valid UTF-8 character at text[at] that is not a control
// character (C0, DEL or C1), or 0 when there is none.
std::size_t printableCharacterLength(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) -> unsigned char {
        return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0;
    };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return lead >= 0x20 && lead != 0x7f ? 1 : 0;
    const auto continuation = [&](std::size_t i) { return inRange(byte(i), 0x80, 0xbf); };
    if (inRange(lead, 0xc2, 0xdf))
        return continuation(1) && !(lead == 0xc2 && byte(1) < 0xa0) ? 2 : 0;
    if (inRange(lead, 0xe0, 0xef)) {
        const unsigned char low = lead == 0xe0 ? 0xa0 : 0x80;
        const unsigned char high = lead == 0xed ? 0x9f : 0xbf;
        return inRange(byte(1), low, high) && continuation(2) ? 3 : 0;
    }
    if (inRange(lead, 0xf0, 0xf4)) {
        const unsigned char low = lead == 0xf0 ? 0x90 : 0x80;
        const unsigned char high = lead == 0xf4 ? 0x8f : 0xbf;
        return inRange(byte(1), low, high) && continuation(2) && continuation(3) ? 4 : 0;
    }
    return 0;
}

std::string line(std::string_view word, std::string_view argument = {}) {
    std::string text(word);
    if (!argument.empty()) {
        text += ' ';
        text += argument;
    }
    text += '\n';
    return text;
}

std::string helloArgument(int version) {
    return std::string(controlProtocolName) + " " + std::to_string(version);
}

std::int32_t clampParty(std::int32_t members) {
    return members < 0                             ? 0
           : members > controlLimits::partyMembers ? controlLimits::partyMembers
                                                   : members;
}

// A party count: plain decimal digits, no sign, no leading zeros.
std::optional<std::int32_t> parsePartyCount(std::string_view text) {
    if (text.empty() || text.size() > 6 || (text.size() > 1 && text[0] == '0') ||
        text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

template <typename Message> Decoded<Message> failure(std::string error) {
    return {std::nullopt, std::move(error)};
}

struct SplitLine {
    std::string_view word;
    std::string_view argument;
    bool hasArgument = false;
};

SplitLine split(std::string_view line) {
    const auto space = line.find(' ');
    if (space == std::string_view::npos)
        return {line, {}, false};
    return {line.substr(0, space), line.substr(space + 1), true};
}

Decoded<ServerMessage> decodeText(std::string_view argument, std::size_t maxBytes, auto make) {
    if (!isProtocolText(argument, maxBytes))
        return failure<ServerMessage>("text too long or not printable UTF-8");
    return {make(std::string(argument)), {}};
}

constexpr std::size_t endpointBytes = 21; // "255.255.255.255:65535"

std::string roundTripText(std::optional<std::int64_t> micros) {
    if (!micros)
        return "-";
    const std::int64_t clamped = std::clamp<std::int64_t>(*micros, 0, 999'999'999);
    std::string fraction = std::to_string(clamped % 1000);
    fraction.insert(0, 3 - fraction.size(), '0');
    return std::to_string(clamped / 1000) + "." + fraction;
}

// "-", or milliseconds with exactly three decimals, at most 999999.999.
std::optional<std::optional<std::int64_t>> parseRoundTrip(std::string_view text) {
    if (text == "-")
        return std::optional<std::int64_t>{};
    const auto dot = text.find('.');
    if (dot == std::string_view::npos || dot == 0 || dot > 6 || text.size() != dot + 4)
        return std::nullopt;
    std::int64_t value = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i == dot)
            continue;
        if (text[i] < '0' || text[i] > '9' || (i == 0 && text[0] == '0' && dot > 1))
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return std::optional<std::int64_t>{value};
}

Decoded<ServerMessage> decodeMember(std::string_view argument) {
    const SplitLine path = split(argument);
    const SplitLine endpoint = split(path.argument);
    const SplitLine roundTrip = split(endpoint.argument);
    if (!roundTrip.hasArgument)
        return failure<ServerMessage>("'member' needs a path, an endpoint, a round trip, a name");
    MemberMessage member;
    using Path = MemberMessage::Path;
    bool known = false;
    for (const Path candidate : {Path::self, Path::direct, Path::relayed, Path::connecting})
        if (path.word == pathWord(candidate)) {
            member.path = candidate;
            known = true;
        }
    if (!known)
        return failure<ServerMessage>("unknown member path");
    if (endpoint.word != "-") {
        if (endpoint.word.empty() || endpoint.word.size() > endpointBytes ||
            endpoint.word.find_first_not_of("0123456789.:") != std::string_view::npos)
            return failure<ServerMessage>("bad member endpoint");
        member.endpoint = endpoint.word;
    }
    const auto micros = parseRoundTrip(roundTrip.word);
    if (!micros)
        return failure<ServerMessage>("bad member round trip");
    member.roundTripMicros = *micros;
    if (!isProtocolText(roundTrip.argument, controlLimits::textBytes))
        return failure<ServerMessage>("text too long or not printable UTF-8");
    member.name = roundTrip.argument;
    return {std::move(member), {}};
}

} // namespace

std::string_view pathWord(MemberMessage::Path path) {
    switch (path) {
    case MemberMessage::Path::self:
        return "self";
    case MemberMessage::Path::direct:
        return "direct";
    case MemberMessage::Path::relayed:
        return "relayed";
    case MemberMessage::Path::connecting:
        return "connecting";
    }
    return "connecting";
}

bool isProtocolText(std::string_view text, std::size_t maxBytes) {
    if (text.size() > maxBytes)
        return false;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = printableCharacterLength(text, at);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

std::string sanitizeText(std::string_view text, std::size_t maxBytes) {
    std::string clean;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t length = printableCharacterLength(text, at);
        std::string_view character = text.substr(at, length);
        if (length == 0) {
            length = 1;
            character = static_cast<unsigned char>(text[at]) < 0x80 ? " " : "?";
        }
        if (clean.size() + character.size() > maxBytes)
            break;
        clean += character;
        at += length;
    }
    return clean;
}

std::optional<std::string> invitationProblem(std::string_view text) {
    if (text.empty())
        return "the invitation is empty";
    if (text.size() > controlLimits::invitationBytes)
        return "the invitation is too long (at most " +
               std::to_string(controlLimits::invitationBytes) + " characters)";
    for (const char c : text)
        if (c <= ' ' || c > '~')
            return "this text holds spaces, line breaks or other characters that an invitation "
                   "never has";
    if (!text.starts_with(invitationPrefix))
        return "this is not a Vaskor invitation: they begin with " + std::string(invitationPrefix);
    return std::nullopt;
}

std::string_view trimWhiteSpace(std::string_view text) {
    constexpr std::string_view whiteSpace = " \t\r\n\v\f";
    const auto first = text.find_first_not_of(whiteSpace);
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(whiteSpace);
    return text.substr(first, last - first + 1);
}

std::string encodeServerMessage(const ServerMessage& message) {
    using namespace controlLimits;
    struct Encoder {
        std::string operator()(const HelloMessage& m) {
            return line("hello", helloArgument(m.version));
        }
        std::string operator()(const UserMessage& m) {
            return line("user", sanitizeText(m.name, textBytes));
        }
        std::string operator()(const ActivityMessage& m) {
            return line("activity", sanitizeText(m.state, textBytes));
        }
        std::string operator()(const PartyMessage& m) {
            return line("party", std::to_string(clampParty(m.size)) + " " +
                                     std::to_string(clampParty(m.capacity)));
        }
        std::string operator()(const PartyIdMessage& m) {
            return line("party-id", sanitizeText(m.id, textBytes));
        }
        std::string operator()(const InvitationMessage& m) {
            return line("invitation", sanitizeText(m.text, invitationBytes));
        }
        std::string operator()(const StateEndMessage&) { return line("end"); }
        std::string operator()(const OpenInviteMessage&) { return line("open-invite"); }
        std::string operator()(const OkMessage&) { return line("ok"); }
        std::string operator()(const JoinPendingMessage&) { return line("join-pending"); }
        std::string operator()(const JoinResultMessage& m) {
            return m.joined ? line("joined") : line("join-failed", sanitizeText(m.text, textBytes));
        }
        std::string operator()(const ErrorMessage& m) {
            return line("error", sanitizeText(m.text, textBytes));
        }
        std::string operator()(const MemberMessage& m) {
            const bool endpointValid =
                !m.endpoint.empty() && m.endpoint.size() <= endpointBytes &&
                m.endpoint.find_first_not_of("0123456789.:") == std::string::npos;
            return line("member", std::string(pathWord(m.path)) + " " +
                                      (endpointValid ? m.endpoint : "-") + " " +
                                      roundTripText(m.roundTripMicros) + " " +
                                      sanitizeText(m.name, textBytes));
        }
    };
    return std::visit(Encoder{}, message);
}

std::string encodeJoinRequest(const JoinRequest& request) {
    return line("join", sanitizeText(request.invitation, controlLimits::invitationBytes));
}

std::string encodeMembersRequest() {
    return line("members");
}

std::string encodeState(const ControlState& state) {
    return encodeServerMessage(UserMessage{state.userName}) +
           encodeServerMessage(ActivityMessage{state.activityState}) +
           encodeServerMessage(PartyMessage{state.partySize, state.partyCapacity}) +
           encodeServerMessage(PartyIdMessage{state.partyId}) +
           encodeServerMessage(InvitationMessage{state.invitation}) +
           encodeServerMessage(StateEndMessage{});
}

Decoded<ServerMessage> decodeServerMessage(std::string_view text) {
    using namespace controlLimits;
    if (text.size() > lineBytes)
        return failure<ServerMessage>("line too long");
    const SplitLine parts = split(text);
    const auto noArgument = [&](ServerMessage message) -> Decoded<ServerMessage> {
        if (parts.hasArgument)
            return failure<ServerMessage>("'" + std::string(parts.word) + "' takes no argument");
        return {std::move(message), {}};
    };
    if (parts.word == "hello") {
        const std::string_view prefix = controlProtocolName;
        const std::string_view argument = parts.argument;
        if (!argument.starts_with(prefix) || argument.size() <= prefix.size() + 1 ||
            argument[prefix.size()] != ' ')
            return failure<ServerMessage>("not a vaskor-sdk-control greeting");
        const auto version = parsePartyCount(argument.substr(prefix.size() + 1));
        if (!version)
            return failure<ServerMessage>("bad protocol version");
        return {HelloMessage{*version}, {}};
    }
    if (parts.word == "user")
        return decodeText(parts.argument, textBytes, [](std::string s) { return UserMessage{s}; });
    if (parts.word == "activity")
        return decodeText(parts.argument, textBytes,
                          [](std::string s) { return ActivityMessage{s}; });
    if (parts.word == "party-id")
        return decodeText(parts.argument, textBytes,
                          [](std::string s) { return PartyIdMessage{s}; });
    if (parts.word == "invitation")
        return decodeText(parts.argument, invitationBytes,
                          [](std::string s) { return InvitationMessage{s}; });
    if (parts.word == "error")
        return decodeText(parts.argument, textBytes, [](std::string s) { return ErrorMessage{s}; });
    if (parts.word == "party") {
        const SplitLine counts = split(parts.argument);
        const auto size = parsePartyCount(counts.word);
        const auto capacity = parsePartyCount(counts.argument);
        if (!counts.hasArgument || !size || !capacity)
            return failure<ServerMessage>("'party' needs two counts");
        return {PartyMessage{*size, *capacity}, {}};
    }
    if (parts.word == "end")
        return noArgument(StateEndMessage{});
    if (parts.word == "open-invite")
        return noArgument(OpenInviteMessage{});
    if (parts.word == "ok")
        return noArgument(OkMessage{});
    if (parts.word == "join-pending")
        return noArgument(JoinPendingMessage{});
    if (parts.word == "joined")
        return noArgument(JoinResultMessage{true, {}});
    if (parts.word == "member")
        return decodeMember(parts.argument);
    if (parts.word == "join-failed")
        return decodeText(parts.argument, textBytes, [](std::string s) {
            return JoinResultMessage{false, s};
        });
    return failure<ServerMessage>("unknown message");
}

Decoded<JoinRequest> decodeJoinRequest(std::string_view text) {
    if (text.size() > controlLimits::lineBytes)
        return failure<JoinRequest>("line too long");
    const SplitLine parts = split(text);
    if (parts.word != "join")
        return failure<JoinRequest>("unknown request (the requests are: join INVITATION, members)");
    if (!isProtocolText(parts.argument, controlLimits::invitationBytes))
        return failure<JoinRequest>("the invitation is too long or not printable text");
    return {JoinRequest{std::string(parts.argument)}, {}};
}

Decoded<ClientRequest> decodeClientRequest(std::string_view text) {
    const SplitLine parts = split(text);
    if (parts.word == "members") {
        if (parts.hasArgument)
            return failure<ClientRequest>("'members' takes no argument");
        return {MembersRequest{}, {}};
    }
    auto join = decodeJoinRequest(text);
    if (!join.message)
        return failure<ClientRequest>(std::move(join.error));
    return {std::move(*join.message), {}};
}
