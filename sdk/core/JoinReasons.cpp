#include "sdk/core/JoinReasons.h"

#include "sdk/lobby/JoinSecret.h"

namespace sdk {

namespace {
std::string secondsOf(std::chrono::milliseconds time) {
    const auto tenths = (time.count() + 50) / 100;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s";
}

std::string endpointsOf(std::string_view secret) {
    const auto parsed = lobby::parseJoinSecret(secret);
    if (!parsed)
        return {};
    std::string list;
    for (const auto& endpoint : parsed->endpoints)
        list += (list.empty() ? "" : ", ") + endpoint.toString();
    return list;
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
        return "the host cannot be reached: no answer from " + endpointsOf(secret) + " in " +
               secondsOf(tried) +
               "; check that the host's program runs and that its UDP port is reachable";
    case DiscordResult_AlreadyExists:
        return "this program is already in a lobby, or the invitation is its own";
    case DiscordResult_InvalidArgument:
        return "the host refused: someone with the same user id is already in the lobby";
    default:
        return "the join failed (code " + std::to_string(result) + ")";
    }
}

} // namespace sdk
