#include "sdk/core/SdkCore.h"

// The overlay is the client window: it can show the invitation to the
// program's lobby. It reads as disabled and locked, as it never draws over the
// program.

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
    service.openActivityInvite = [](DiscordOverlayManager* self, std::int32_t actionType,
                                    void* data, DiscordResultCallback callback) {
        SdkCore& core = coreOf(self);
        core.complete(callback, data, core.openInvitation(actionType));
    };
}

} // namespace sdk
