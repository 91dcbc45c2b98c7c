#include "sdk/core/SdkCore.h"

// Activities are not offered yet; every operation answers "not supported".

namespace sdk {

void initActivityService(Service<DiscordActivityManager>& service) {
    service.updateActivity = [](DiscordActivityManager* self, const DiscordActivity*, void* data,
                                DiscordResultCallback callback) {
        coreOf(self).complete(callback, data, DiscordResult_NotSupported);
    };
    service.clearActivity = [](DiscordActivityManager* self, void* data,
                               DiscordResultCallback callback) {
        coreOf(self).complete(callback, data, DiscordResult_NotSupported);
    };
    service.registerCommand = [](DiscordActivityManager*, const char*) {
        return DiscordResultCode{DiscordResult_NotSupported};
    };
}

} // namespace sdk
