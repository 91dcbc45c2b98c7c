#include "discord/ActivityManager.h"

namespace discord {

namespace {
void* holdResult(PendingCallbacks& pending, std::function<void(Result)> callback) {
    std::function<void(DiscordResultCode)> adapter =
        [callback = std::move(callback)](DiscordResultCode result) {
            if (callback)
                callback(resultOf(result));
        };
    return pending.hold(std::move(adapter));
}
} // namespace

void ActivityManager::UpdateActivity(const Activity& activity,
                                     std::function<void(Result)> callback) {
    const DiscordActivity internal = activity.Internal();
    internal_->updateActivity(internal_, &internal, holdResult(*pending_, std::move(callback)),
                              &PendingCallbacks::call<DiscordResultCode>);
}

void ActivityManager::ClearActivity(std::function<void(Result)> callback) {
    internal_->clearActivity(internal_, holdResult(*pending_, std::move(callback)),
                             &PendingCallbacks::call<DiscordResultCode>);
}

Result ActivityManager::RegisterCommand(const char* command) {
    return resultOf(internal_->registerCommand(internal_, command));
}

} // namespace discord
