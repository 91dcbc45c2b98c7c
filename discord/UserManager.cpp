#include "discord/UserManager.h"

namespace discord {

Result UserManager::GetCurrentUser(User* currentUser) {
    if (!currentUser)
        return Result::InvalidArgument;
    return resultOf(internal->getCurrentUser(internal, currentUser->Internal()));
}

void UserManager::GetUser(UserId userId, std::function<void(Result, const User&)> callback) {
    std::function<void(DiscordResultCode, const DiscordUser*)> adapter =
        [callback = std::move(callback)](DiscordResultCode result, const DiscordUser* user) {
            if (callback)
                callback(resultOf(result), user ? User(*user) : User());
        };
    internal->getUser(internal, userId, pending->hold(std::move(adapter)),
                      &PendingCallbacks::call<DiscordResultCode, const DiscordUser*>);
}

} // namespace discord
