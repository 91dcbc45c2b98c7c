#include "sdk/core/SdkCore.h"

#include <sodium.h>

#include <pwd.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace sdk {

namespace {
transport::TransportSettings transportSettingsOf(const Settings& settings) {
    transport::TransportSettings out;
    out.port = settings.port;
    out.announcedAddresses = settings.announcedAddresses;
    out.keepAliveInterval = settings.keepAliveInterval;
    out.peerTimeout = settings.peerTimeout;
    out.handshakeRetry = settings.handshakeRetry;
    out.allowAes = settings.allowAes;
    return out;
}

template <typename Table> Table tableOr(const Table* given) {
    return given ? *given : Table{};
}

EventTables eventTablesOf(const DiscordCreateParams& params) {
    EventTables tables;
    tables.data = params.eventData;
    tables.user = tableOr(params.userEvents);
    tables.activity = tableOr(params.activityEvents);
    tables.relationship = tableOr(params.relationshipEvents);
    tables.lobby = tableOr(params.lobbyEvents);
    tables.network = tableOr(params.networkEvents);
    tables.overlay = tableOr(params.overlayEvents);
    tables.store = tableOr(params.storeEvents);
    tables.voice = tableOr(params.voiceEvents);
    tables.achievement = tableOr(params.achievementEvents);
    return tables;
}

std::string loginName() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_name && *found->pw_name)
        return found->pw_name;
    if (const char* user = std::getenv("USER"); user && *user)
        return user;
    return "user";
}

DiscordUserId randomUserId() {
    std::uint64_t value = 0;
    while (value == 0) {
        randombytes_buf(&value, sizeof value);
        value &= 0x7fffffffffffffffULL;
    }
    return static_cast<DiscordUserId>(value);
}

template <typename Table> Table* tableOf(Service<Table>& service) {
    return &service;
}
} // namespace

void copyText(char* field, std::size_t size, const char* text) {
    std::memset(field, 0, size);
    if (text)
        std::strncpy(field, text, size - 1);
}

SdkCore::SdkCore(const DiscordCreateParams& params, const Settings& settings)
    : events_(eventTablesOf(params)), transport_(transportSettingsOf(settings)) {
    currentUser_.id = settings.userId.value_or(randomUserId());
    const std::string name = settings.userName.value_or(loginName());
    copyText(currentUser_.username, sizeof currentUser_.username, name.c_str());
    copyText(currentUser_.discriminator, sizeof currentUser_.discriminator, "0");

    for (auto* service :
         {&users_.core, &network_.core, &lobbies_.core, &activities_.core, &overlay_.core,
          &relationships_.core, &store_.core, &voice_.core, &achievements_.core})
        *service = this;
    initUserService(users_);
    initNetworkService(network_);
    initLobbyService(lobbies_);
    initActivityService(activities_);
    initOverlayService(overlay_);
    initRelationshipService(relationships_);
    initStoreService(store_);
    initVoiceService(voice_);
    initAchievementService(achievements_);

    destroy = [](DiscordCoreInterface* self) { delete static_cast<SdkCore*>(self); };
    DiscordCoreInterface::runCallbacks = [](DiscordCoreInterface* self) {
        return static_cast<SdkCore*>(self)->runCallbacks();
    };
    getUserManager = [](DiscordCoreInterface* self) {
        return tableOf(static_cast<SdkCore*>(self)->users_);
    };
    getActivityManager = [](DiscordCoreInterface* self) {
        return tableOf(static_cast<SdkCore*>(self)->activities_);
    };
    getRelationshipManager = [](DiscordCoreInterface* self) {
        return tableOf(static_cast<SdkCore*>(self)->relationships_);
    };
    getLobbyManager = [](DiscordCoreInterface* self) {
        return tableOf(static_cast<SdkCore*>(self)->lobbies_);
    };
    getNetworkManager = [](DiscordCoreInterface* self) {
        return tableOf(static_cast<SdkCore*>(self)->network_);
    };
    getOverlayManager = [](DiscordCoreInterface* self) {
        return tableOf(static_cast<SdkCore*>(self)->overlay_);
    };
    getStoreManager = [](DiscordCoreInterface* self) {
        return tableOf(static_cast<SdkCore*>(self)->store_);
    };
    getVoiceManager = [](DiscordCoreInterface* self) {
        return tableOf(static_cast<SdkCore*>(self)->voice_);
    };
    getAchievementManager = [](DiscordCoreInterface* self) {
        return tableOf(static_cast<SdkCore*>(self)->achievements_);
    };

    // The program needs its user id before any lobby result: this event is
    // the first thing the first runCallbacks delivers.
    if (events_.user.onCurrentUserUpdate)
        callbacks_.push([this] { events_.user.onCurrentUserUpdate(events_.data); });
}

SdkCore::~SdkCore() {
    *alive_ = false;
    callbacks_.clear();
}

void SdkCore::complete(DiscordResultCallback callback, void* data, DiscordResultCode result) {
    if (callback)
        callbacks_.push([callback, data, result] { callback(data, result); });
}

DiscordResultCode SdkCore::runCallbacks() {
    const auto alive = alive_;
    transport_.poll(*this);
    callbacks_.runWaiting(alive);
    return DiscordResult_Ok;
}

void SdkCore::onMessage(transport::PeerId peer, transport::Channel channel,
                        std::span<const std::uint8_t> bytes) {
    if (channel.internal || !events_.network.onMessage)
        return;
    callbacks_.push([this, peer, id = channel.id,
                     message = std::vector<std::uint8_t>(bytes.begin(), bytes.end())]() mutable {
        events_.network.onMessage(events_.data, peer, id, message.data(),
                                  static_cast<std::uint32_t>(message.size()));
    });
}

void SdkCore::onRouteChanged(const std::string& route) {
    if (!events_.network.onRouteUpdate)
        return;
    callbacks_.push([this, route] { events_.network.onRouteUpdate(events_.data, route.c_str()); });
}

} // namespace sdk
