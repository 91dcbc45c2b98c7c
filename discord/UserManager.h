#pragma once

#include "discord/Event.h"
#include "discord/PendingCallbacks.h"
#include "discord/Types.h"

namespace discord {

class UserManager {
public:
    Result GetCurrentUser(User* currentUser);
    void GetUser(UserId userId, std::function<void(Result, const User&)> callback);

    Event<> OnCurrentUserUpdate;

private:
    friend class Core;
    DiscordUserManager* internal = nullptr;
    PendingCallbacks* pending = nullptr;
};

} // namespace discord
