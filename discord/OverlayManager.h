#pragma once

#include "discord/Event.h"
#include "discord/PendingCallbacks.h"
#include "discord/Types.h"

namespace discord {

class OverlayManager {
public:
    void IsEnabled(bool* enabled);
    void IsLocked(bool* locked);
    void SetLocked(bool locked, std::function<void(Result)> callback);
    void OpenActivityInvite(ActivityActionType type, std::function<void(Result)> callback);

    Event<bool> OnToggle;

private:
    friend class Core;
    void* holdResult(std::function<void(Result)> callback);

    DiscordOverlayManager* internal = nullptr;
    PendingCallbacks* pending = nullptr;
};

} // namespace discord
