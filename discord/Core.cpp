#include "discord/Core.h"

#include <memory>

namespace discord {

// The C event tables: each entry hands the event to the Core's manager.
struct Core::Events {
    static Core& core(void* data) { return *static_cast<Core*>(data); }

    static inline DiscordUserEvents user{
        [](void* data) { core(data).userManager_.OnCurrentUserUpdate(); },
    };
    static inline DiscordActivityEvents activity{
        [](void* data, const char* secret) { core(data).activityManager_.OnActivityJoin(secret); },
        [](void* data, const char* secret) {
            core(data).activityManager_.OnActivitySpectate(secret);
        },
        [](void* data, const DiscordUser* user) {
            core(data).activityManager_.OnActivityJoinRequest(user ? User(*user) : User());
        },
    };
    static inline DiscordLobbyEvents lobby{
        [](void* data, DiscordLobbyId lobbyId) { core(data).lobbyManager_.OnLobbyUpdate(lobbyId); },
        [](void* data, DiscordLobbyId lobbyId, std::uint32_t reason) {
            core(data).lobbyManager_.OnLobbyDelete(lobbyId, reason);
        },
        [](void* data, DiscordLobbyId lobbyId, DiscordUserId userId) {
            core(data).lobbyManager_.OnMemberConnect(lobbyId, userId);
        },
        [](void* data, DiscordLobbyId lobbyId, DiscordUserId userId) {
            core(data).lobbyManager_.OnMemberUpdate(lobbyId, userId);
        },
        [](void* data, DiscordLobbyId lobbyId, DiscordUserId userId) {
            core(data).lobbyManager_.OnMemberDisconnect(lobbyId, userId);
        },
        [](void* data, DiscordLobbyId lobbyId, DiscordUserId userId, std::uint8_t* bytes,
           std::uint32_t length) {
            core(data).lobbyManager_.OnLobbyMessage(lobbyId, userId, bytes, length);
        },
    };
    static inline DiscordNetworkEvents network{
        [](void* data, DiscordNetworkPeerId peerId, DiscordNetworkChannelId channelId,
           std::uint8_t* bytes, std::uint32_t length) {
            core(data).networkManager_.OnMessage(peerId, channelId, bytes, length);
        },
        [](void* data, const char* route) { core(data).networkManager_.OnRouteUpdate(route); },
    };
    static inline DiscordOverlayEvents overlay{
        [](void* data, bool locked) { core(data).overlayManager_.OnToggle(locked); },
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
    params.flags = flags;
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
        resultOf(DiscordCreate(discordInterfaceVersion, &params, &core->internal_));
    if (result != Result::Ok || !core->internal_) {
        if (core->internal_)
            core->internal_->destroy(core->internal_);
        core->internal_ = nullptr;
        return result == Result::Ok ? Result::InternalError : result;
    }
    DiscordCoreInterface* internal = core->internal_;
    core->lobbyManager_.internal_ = internal->getLobbyManager(internal);
    core->lobbyManager_.pending_ = &core->pending_;
    core->userManager_.internal_ = internal->getUserManager(internal);
    core->userManager_.pending_ = &core->pending_;
    core->activityManager_.internal_ = internal->getActivityManager(internal);
    core->activityManager_.pending_ = &core->pending_;
    core->overlayManager_.internal_ = internal->getOverlayManager(internal);
    core->overlayManager_.pending_ = &core->pending_;
    core->networkManager_.internal_ = internal->getNetworkManager(internal);
    *instance = core.release();
    return Result::Ok;
}

Core::~Core() {
    // The SDK first, so that nothing calls back while the rest goes.
    if (internal_)
        internal_->destroy(internal_);
}

Result Core::RunCallbacks() {
    return resultOf(internal_->runCallbacks(internal_));
}

} // namespace discord
