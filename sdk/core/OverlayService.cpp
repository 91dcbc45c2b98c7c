#include "sdk/core/SdkCore.h"

// There is no overlay yet: it reads as disabled and locked, and its
// operations answer "not supported".

namespace sdk {

void initOverlayService(Service<DiscordOverlayManager>& service) {
    service.isEnabled = [](DiscordOverlayManager*, bool* enabled) {
        if (enabled)
            *enabled = false;
    };
    service.isLocked = [](DiscordOverlayManager*, bool* locked) {
        if (locked)
            *locked = true;
    };
    service.setLocked = [](DiscordOverlayManager* self, bool, void* data,
                           DiscordResultCallback callback) {
        coreOf(self).complete(callback, data, DiscordResult_NotSupported);
    };
    service.openActivityInvite = [](DiscordOverlayManager* self, std::int32_t, void* data,
                                    DiscordResultCallback callback) {
        coreOf(self).complete(callback, data, DiscordResult_NotSupported);
    };
}

} // namespace sdk
