#include "discord/Core.h"

#include <memory>

namespace discord {

// The C event tables: each entry hands the event to the Core's manager.
struct Core::Events {
    static Core& core(void* data) { return *static_cast<Core*>(data); }

    static inline DiscordUserEvents user{
        [](void* data) { core(data).userManager.OnCurrentUserUpdate(); },
    };
    static inline DiscordActivityEvents activity{
        [](void* data, const char* secret) { core(data).activityManager.OnActivityJoin(secret); },
        [](void* data, const char* secret) {
            core(data).activityManager.OnActivitySpectate(secret);
        },
        [](void* data, const DiscordUser* user) {
            core(data).activityManager.OnActivityJoinRequest(user ? User(*user) : User());
        },
    };
    static inline DiscordLobbyEvents lobby{
        [](void* data, DiscordLobbyId lobbyId) { core(data).lobbyManager.OnLobbyUpdate(lobbyId); },
        [](void* data, DiscordLobbyId lobbyId, std::uint32_t reason) {
            core(data).lobbyManager.OnLobbyDelete(lobbyId, reason);
        },
        [](void* data, DiscordLobbyId lobbyId, DiscordUserId userId) {
            core(data).lobbyManager.OnMemberConnect(lobbyId, userId);
        },
        [](void* data, DiscordLobbyId lobbyId, DiscordUserId userId) {
            core(data).lobbyManager.OnMemberUpdate(lobbyId, userId);
        },
        [](void* data, DiscordLobbyId lobbyId, DiscordUserId userId) {
            core(data).lobbyManager.OnMemberDisconnect(lobbyId, userId);
        },
        [](void* data, DiscordLobbyId lobbyId, DiscordUserId userId, std::uint8_t* bytes,
           std::uint32_t length) {
            core(data).lobbyManager.OnLobbyMessage(lobbyId, userId, bytes, length);
        },
    };
    static inline DiscordNetworkEvents network{
        [](void* data, DiscordNetworkPeerId peerId, DiscordNetworkChannelId channelId,
           std::uint8_t* bytes, std::uint32_t length) {
            core(data).networkManager.OnMessage(peerId, channelId, bytes, length);
        },
        [](void* data, const char* route) { core(data).networkManager.OnRouteUpdate(route); },
    };
    static inline DiscordOverlayEvents overlay{
        [](void* data, bool locked) { core(data).overlayManager.OnToggle(locked); },
    };
    // Managers without a class here: their events have nowhere to go.
    static inline DiscordRelationshipEvents relationship{};
    static inline DiscordStoreEvents store{};
    static inline DiscordVoiceEvents voice{};
    static inline DiscordAchievementEvents achievement{};
};

Result Core::Create(ClientId clientId, std::uint64_t flags, Core** instance) {
    if (!instance)
        return Result::InvalidArgument;
    *instance = nullptr;
    std::unique_ptr<Core> core(new Core());

    DiscordCreateParams params{};
    params.clientId = clientId;
    // Our SDK's wait handle is asked for always; an SDK without it ignores the
    // bit and leaves the field as it is.
    params.flags = flags | DiscordCreateFlags_VaskorWaitHandle;
    params.waitHandle = discordNoWaitHandle;
    params.eventData = core.get();
    params.userEvents = &Events::user;
    params.userVersion = discordEventTableVersion;
    params.activityEvents = &Events::activity;
    params.activityVersion = discordEventTableVersion;
    params.relationshipEvents = &Events::relationship;
    params.relationshipVersion = discordEventTableVersion;
    params.lobbyEvents = &Events::lobby;
    params.lobbyVersion = discordEventTableVersion;
    params.networkEvents = &Events::network;
    params.networkVersion = discordEventTableVersion;
    params.overlayEvents = &Events::overlay;
    params.overlayVersion = discordEventTableVersion;
    params.storeEvents = &Events::store;
    params.storeVersion = discordEventTableVersion;
    params.voiceEvents = &Events::voice;
    params.voiceVersion = discordEventTableVersion;
    params.achievementEvents = &Events::achievement;
    params.achievementVersion = discordEventTableVersion;

    const Result result =
        resultOf(DiscordCreate(discordInterfaceVersion, &params, &core->internal));
    if (result != Result::Ok || !core->internal) {
        if (core->internal)
            core->internal->destroy(core->internal);
        core->internal = nullptr;
        return result == Result::Ok ? Result::InternalError : result;
    }
    DiscordCoreInterface* internal = core->internal;
    core->lobbyManager.internal = internal->getLobbyManager(internal);
    core->lobbyManager.pending = &core->pending;
    core->userManager.internal = internal->getUserManager(internal);
    core->userManager.pending = &core->pending;
    core->activityManager.internal = internal->getActivityManager(internal);
    core->activityManager.pending = &core->pending;
    core->overlayManager.internal = internal->getOverlayManager(internal);
    core->overlayManager.pending = &core->pending;
    core->networkManager.internal = internal->getNetworkManager(internal);
    core->waitHandle = params.waitHandle;
    *instance = core.release();
    return Result::Ok;
}

Core::~Core() {
    // The SDK first, so that nothing calls back while the rest goes.
    if (internal)
        internal->destroy(internal);
}

Result Core::RunCallbacks() {
    return resultOf(internal->runCallbacks(internal));
}

Result Core::GetWaitHandle(WaitHandle* handle) const {
    if (!handle)
        return Result::InvalidArgument;
    *handle = waitHandle;
    return waitHandle == discordNoWaitHandle ? Result::NotSupported : Result::Ok;
}

} // namespace discord
