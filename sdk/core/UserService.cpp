#include "sdk/core/SdkCore.h"

namespace sdk {

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
        const bool known = userId == core.currentUser().id;
        const DiscordUser user = known ? core.currentUser() : DiscordUser{};
        core.callbacks().push([callback, data, known, user] {
            callback(data, known ? DiscordResult_Ok : DiscordResult_NotFound, &user);
        });
    };
}

} // namespace sdk
