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
    const DiscordActivity record = activity.Internal();
    internal->updateActivity(internal, &record, holdResult(*pending, std::move(callback)),
                             &PendingCallbacks::call<DiscordResultCode>);
}

void ActivityManager::ClearActivity(std::function<void(Result)> callback) {
    internal->clearActivity(internal, holdResult(*pending, std::move(callback)),
                            &PendingCallbacks::call<DiscordResultCode>);
}

Result ActivityManager::RegisterCommand(const char* command) {
    return resultOf(internal->registerCommand(internal, command));
}

} // namespace discord
