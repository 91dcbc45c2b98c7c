#include "sdk/core/JoinReasons.h"

#include "sdk/lobby/JoinSecret.h"

namespace sdk {

namespace {
std::string secondsOf(std::chrono::milliseconds time) {
    const auto tenths = (time.count() + 50) / 100;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s";
}

// What a person tells the host: its router lets nobody in unasked. The
// host's own port is the last endpoint's (a mapped one comes first).
std::string unreachableText(std::string_view secret, std::chrono::milliseconds tried) {
    const auto parsed = lobby::parseJoinSecret(secret);
    if (!parsed)
        return "the host cannot be reached";
    std::string list;
    for (const auto& endpoint : parsed->endpoints)
        list += (list.empty() ? "" : ", ") + endpoint.toString();
    return "the host cannot be reached: its router needs UPnP or NAT-PMP turned on, or UDP port " +
           std::to_string(parsed->endpoints.back().port) +
           " forwarded to the host's computer; and its program must run (no answer from " + list +
           " in " + secondsOf(tried) + ")";
}
} // namespace

std::string joinFailureText(DiscordResultCode result, std::string_view secret,
                            std::chrono::milliseconds tried) {
    switch (result) {
    case DiscordResult_InvalidSecret:
        return "not a valid invitation: it is cut, mistyped or from an older lobby; ask the host "
               "for a new one";
    case DiscordResult_NotFound:
        return "that lobby no longer exists: the host closed it; ask the host for a new invitation";
    case DiscordResult_LobbyFull:
        return "the lobby is full; ask the host to make room";
    case DiscordResult_NetworkError:
        return unreachableText(secret, tried);
    case DiscordResult_AlreadyExists:
        return "this program is already in a lobby, or the invitation is its own";
    case DiscordResult_InvalidArgument:
        return "the host refused: someone with the same user id is already in the lobby";
    default:
        return "the join failed (code " + std::to_string(result) + ")";
    }
}

} // namespace sdk
