#include "sdk/core/SdkCore.h"

// Managers the program never uses: every operation answers "not supported".

namespace sdk {

namespace {
constexpr DiscordResultCode notSupported = DiscordResult_NotSupported;

void zero(std::int32_t* count) {
    if (count)
        *count = 0;
}
} // namespace

void initRelationshipService(Service<DiscordRelationshipManager>& service) {
    service.count = [](DiscordRelationshipManager*, std::int32_t* count) {
        zero(count);
        return notSupported;
    };
}

void initStoreService(Service<DiscordStoreManager>& service) {
    service.fetchSkus = [](DiscordStoreManager* self, void* data, DiscordResultCallback callback) {
        coreOf(self).complete(callback, data, notSupported);
    };
    service.countSkus = [](DiscordStoreManager*, std::int32_t* count) {
        zero(count);
        return notSupported;
    };
}

void initVoiceService(Service<DiscordVoiceManager>& service) {
    service.setSelfMute = [](DiscordVoiceManager*, bool) { return notSupported; };
    service.isSelfMute = [](DiscordVoiceManager*, bool* mute) {
        if (mute)
            *mute = false;
        return notSupported;
    };
}

void initAchievementService(Service<DiscordAchievementManager>& service) {
    service.setUserAchievement = [](DiscordAchievementManager* self, std::int64_t, std::uint8_t,
                                    void* data, DiscordResultCallback callback) {
        coreOf(self).complete(callback, data, notSupported);
    };
    service.countUserAchievements = [](DiscordAchievementManager*, std::int32_t* count) {
        zero(count);
        return notSupported;
    };
}

} // namespace sdk
