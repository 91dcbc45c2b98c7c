#include "sdk/core/SdkCore.h"

// The activity is kept by the core and shown in the client window; there is
// no one else to show it to.

namespace sdk {

void initActivityService(Service<DiscordActivityManager>& service) {
    service.updateActivity = [](DiscordActivityManager* self, const DiscordActivity* activity,
                                void* data, DiscordResultCallback callback) {
        SdkCore& core = coreOf(self);
        if (!activity) {
            core.complete(callback, data, DiscordResult_InvalidArgument);
            return;
        }
        core.setActivity(*activity);
        core.complete(callback, data, DiscordResult_Ok);
    };
    service.clearActivity = [](DiscordActivityManager* self, void* data,
                               DiscordResultCallback callback) {
        SdkCore& core = coreOf(self);
        core.setActivity(DiscordActivity{});
        core.complete(callback, data, DiscordResult_Ok);
    };
    service.registerCommand = [](DiscordActivityManager*, const char*) {
        return DiscordResultCode{DiscordResult_NotSupported};
    };
}

} // namespace sdk
