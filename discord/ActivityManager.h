#pragma once

#include "discord/Event.h"
#include "discord/PendingCallbacks.h"
#include "discord/Types.h"

namespace discord {

class ActivityManager {
public:
    void UpdateActivity(const Activity& activity, std::function<void(Result)> callback);
    void ClearActivity(std::function<void(Result)> callback);
    Result RegisterCommand(const char* command);

    Event<const char*> OnActivityJoin;
    Event<const char*> OnActivitySpectate;
    Event<const User&> OnActivityJoinRequest;

private:
    friend class Core;
    DiscordActivityManager* internal = nullptr;
    PendingCallbacks* pending = nullptr;
};

} // namespace discord
