#include "discord/OverlayManager.h"

namespace discord {

void* OverlayManager::holdResult(std::function<void(Result)> callback) {
    std::function<void(DiscordResultCode)> adapter =
        [callback = std::move(callback)](DiscordResultCode result) {
            if (callback)
                callback(resultOf(result));
        };
    return pending->hold(std::move(adapter));
}

void OverlayManager::IsEnabled(bool* enabled) {
    internal->isEnabled(internal, enabled);
}

void OverlayManager::IsLocked(bool* locked) {
    internal->isLocked(internal, locked);
}

void OverlayManager::SetLocked(bool locked, std::function<void(Result)> callback) {
    internal->setLocked(internal, locked, holdResult(std::move(callback)),
                        &PendingCallbacks::call<DiscordResultCode>);
}

void OverlayManager::OpenActivityInvite(ActivityActionType type,
                                        std::function<void(Result)> callback) {
    internal->openActivityInvite(internal, static_cast<std::int32_t>(type),
                                 holdResult(std::move(callback)),
                                 &PendingCallbacks::call<DiscordResultCode>);
}

} // namespace discord
