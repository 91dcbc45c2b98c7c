#include "sdk/lobby/LobbySession.h"

#include "sdk/transport/Keys.h"
#include "sdk/transport/Route.h"

#include <algorithm>

// Which peers the program may open or update while this core is in a lobby:
// the members', at routes that name their own key. A member can publish
// anything in its metadata, other members' keys and routes included; the
// key is what ties a route to the member it belongs to.

namespace sdk::lobby {

namespace {
bool publishes(const MemberRecord& record, std::string_view route) {
    return std::any_of(record.metadata.begin(), record.metadata.end(),
                       [&](const auto& entry) { return entry.second == route; });
}
} // namespace

DiscordResultCode LobbySession::peerRouteCheck(transport::PeerId peer,
                                               std::string_view routeText) const {
    if (role == Role::none)
        return DiscordResult_Ok; // no lobby: no member's word reaches the program
    const auto route = transport::parseRoute(routeText);
    if (!route || transport::peerIdOf(route->key) != peer)
        return DiscordResult_InvalidRoute;
    if (route->key == transport.publicKey())
        return role == Role::joining ? DiscordResult_NotFound : DiscordResult_Ok;
    if (role == Role::joining)
        return DiscordResult_NotFound;
    const auto owner = std::find_if(memberList.begin(), memberList.end(), [&](const auto& member) {
        return member.record.key == route->key;
    });
    if (owner == memberList.end())
        return DiscordResult_NotFound;
    // Another member's copy of this route: taken only when its owner
    // publishes the same (the program read it from the wrong member).
    const bool byOther = std::any_of(memberList.begin(), memberList.end(), [&](const auto& member) {
        return &member != &*owner && publishes(member.record, routeText);
    });
    if (byOther && !publishes(owner->record, routeText))
        return DiscordResult_InvalidRoute;
    return DiscordResult_Ok;
}

} // namespace sdk::lobby
