#include "sdk/core/SdkCore.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace sdk {

namespace {
// The current user, or a member of this core's lobby by the name the lobby
// carries; other users are unknown without a server.
std::optional<DiscordUser> knownUser(SdkCore& core, DiscordUserId userId) {
    if (userId == core.currentUser().id)
        return core.currentUser();
    const auto lobbyId = core.lobbies().currentLobby();
    const auto* member = lobbyId ? core.lobbies().member(*lobbyId, userId) : nullptr;
    if (!member)
        return std::nullopt;
    DiscordUser user{};
    user.id = userId;
    // Names are at most lobby::maxUserNameBytes, well inside the field.
    const auto& name = member->record.name;
    std::memcpy(user.username, name.data(), std::min(name.size(), sizeof user.username - 1));
    std::memcpy(user.discriminator, "0", 2);
    return user;
}
} // namespace

void initUserService(Service<DiscordUserManager>& service) {
    service.getCurrentUser = [](DiscordUserManager* self, DiscordUser* user) {
        if (!user)
            return DiscordResultCode{DiscordResult_InvalidArgument};
        *user = coreOf(self).currentUser();
        return DiscordResultCode{DiscordResult_Ok};
    };
    service.getUser = [](DiscordUserManager* self, DiscordUserId userId, void* data,
                         DiscordUserCallback callback) {
        if (!callback)
            return;
        SdkCore& core = coreOf(self);
        const auto known = knownUser(core, userId);
        const DiscordUser user = known.value_or(DiscordUser{});
        core.callbacks().push([callback, data, found = known.has_value(), user] {
            callback(data, found ? DiscordResult_Ok : DiscordResult_NotFound, &user);
        });
    };
}

} // namespace sdk
