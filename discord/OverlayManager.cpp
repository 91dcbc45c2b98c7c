#include "discord/OverlayManager.h"

namespace discord {

void* OverlayManager::holdResult(std::function<void(Result)> callback) {
    std::function<void(DiscordResultCode)> adapter =
        [callback = std::move(callback)](DiscordResultCode result) {
            if (callback)
                callback(resultOf(result));
        };
    return pending_->hold(std::move(adapter));
}

void OverlayManager::IsEnabled(bool* enabled) {
    internal_->isEnabled(internal_, enabled);
}

void OverlayManager::IsLocked(bool* locked) {
    internal_->isLocked(internal_, locked);
}

void OverlayManager::SetLocked(bool locked, std::function<void(Result)> callback) {
    internal_->setLocked(internal_, locked, holdResult(std::move(callback)),
                         &PendingCallbacks::call<DiscordResultCode>);
}

void OverlayManager::OpenActivityInvite(ActivityActionType type,
                                        std::function<void(Result)> callback) {
    internal_->openActivityInvite(internal_, static_cast<std::int32_t>(type),
                                  holdResult(std::move(callback)),
                                  &PendingCallbacks::call<DiscordResultCode>);
}

} // namespace discord
