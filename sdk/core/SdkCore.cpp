#include "sdk/core/SdkCore.h"

#include "sdk/control/ClientProcess.h"
#include "sdk/control/ControlServer.h"
#include "sdk/control/ControlSocketPath.h"

#include <sodium.h>

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
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

DiscordUser userOf(const Settings& settings) {
    DiscordUser user{};
    user.id = settings.userId.value_or(randomUserId());
    const std::string name = settings.userName.value_or(loginName());
    copyText(user.username, sizeof user.username, name.c_str());
    copyText(user.discriminator, sizeof user.discriminator, "0");
    return user;
}

bool hasDisplay() {
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (display && *display) || (wayland && *wayland);
}

void reportNote(const std::string& note) {
    std::fprintf(stderr, "game SDK: %s\n", note.c_str());
}
} // namespace

void copyText(char* field, std::size_t size, const char* text) {
    std::memset(field, 0, size);
    if (text)
        std::strncpy(field, text, size - 1);
}

SdkCore::SdkCore(const DiscordCreateParams& params, const Settings& settings)
    : events_(eventTablesOf(params)), currentUser_(userOf(settings)),
      transport_(transportSettingsOf(settings)),
      lobbySession_(transport_, *this, currentUser_.id, settings.peerTimeout) {

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
    startControl();
}

SdkCore::~SdkCore() {
    *alive_ = false;
    callbacks_.clear();
}

// Without a control socket the core still works; only the client window and
// the command line are missing, which is worth a line for a person.
void SdkCore::startControl() {
    try {
        control_ = std::make_unique<ControlServer>(newControlSocketPath());
    } catch (const std::exception& error) {
        reportNote(std::string("no client window or command line: ") + error.what());
        return;
    }
    control_->setUserName(currentUser_.username);
    auto launch = startClientProcess(control_->path());
    clientWindow_ = std::move(launch.process);
    if (!clientWindow_ && hasDisplay())
        reportNote(launch.note);
}

// Sends what the last pass changed and takes the invitations given since.
void SdkCore::pollControl() {
    if (!control_)
        return;
    control_->poll();
    while (auto secret = control_->takeJoin()) {
        if (!events_.activity.onActivityJoin)
            continue;
        callbacks_.push([this, secret = std::move(*secret)] {
            events_.activity.onActivityJoin(events_.data, secret.c_str());
        });
    }
}

void SdkCore::setActivity(const DiscordActivity& activity) {
    activity_ = activity;
    activity_.state[sizeof activity_.state - 1] = '\0';
    activity_.secrets.join[sizeof activity_.secrets.join - 1] = '\0';
    if (control_)
        control_->setActivity(activity_.state, activity_.party.size.currentSize,
                              activity_.party.size.maxSize);
}

// The invitation is the activity's join secret. When that names the lobby
// this core hosts, the secret is made afresh, so it carries the current
// endpoints even if the activity was set before an address changed.
DiscordResultCode SdkCore::openInvitation(std::int32_t actionType) {
    if (actionType != DiscordActivityActionType_Join)
        return DiscordResult_NotSupported;
    std::string invitation = activity_.secrets.join;
    if (invitation.empty())
        return DiscordResult_NotFound;
    if (const auto hosted = lobbySession_.hostedLobby()) {
        const auto parsed = lobby::parseJoinSecret(invitation);
        if (parsed && parsed->lobbyId == *hosted)
            invitation = lobbySession_.activitySecret(*hosted);
    }
    if (!control_)
        return DiscordResult_ServiceUnavailable;
    control_->openInvitation(invitation);
    return DiscordResult_Ok;
}

void SdkCore::complete(DiscordResultCallback callback, void* data, DiscordResultCode result) {
    if (callback)
        callbacks_.push([callback, data, result] { callback(data, result); });
}

DiscordResultCode SdkCore::runCallbacks() {
    const auto alive = alive_;
    pollControl();
    transport_.poll(*this);
    lobbySession_.tick(transport::Clock::now());
    callbacks_.runWaiting(alive);
    return DiscordResult_Ok;
}

void SdkCore::onMessage(transport::PeerId peer, transport::Channel channel,
                        std::span<const std::uint8_t> bytes) {
    if (channel.internal) {
        if (channel == transport::Channel::control())
            lobbySession_.onControlMessage(peer, bytes);
        return;
    }
    if (!events_.network.onMessage)
        return;
    // The program hears only peers it opened and the members of its lobby;
    // a newcomer still proving the lobby key has nothing to say to it.
    if (peer != transport_.peerId() && !transport_.isOpenedBy(peer, transport::PeerUse::program) &&
        !lobbySession_.isMemberPeer(peer))
        return;
    callbacks_.push([this, peer, id = channel.id,
                     message = std::vector<std::uint8_t>(bytes.begin(), bytes.end())]() mutable {
        events_.network.onMessage(events_.data, peer, id, message.data(),
                                  static_cast<std::uint32_t>(message.size()));
    });
}

void SdkCore::onPeerConnected(transport::PeerId peer) {
    lobbySession_.onPeerConnected(peer);
}

void SdkCore::onPeerLost(transport::PeerId peer) {
    lobbySession_.onPeerLost(peer);
}

void SdkCore::queueMemberEvent(void (*DiscordLobbyEvents::*event)(void*, DiscordLobbyId,
                                                                  DiscordUserId),
                               std::int64_t lobbyId, std::int64_t userId) {
    if (events_.lobby.*event)
        callbacks_.push([this, event, lobbyId, userId] {
            (events_.lobby.*event)(events_.data, lobbyId, userId);
        });
}

void SdkCore::memberConnected(std::int64_t lobbyId, std::int64_t userId) {
    queueMemberEvent(&DiscordLobbyEvents::onMemberConnect, lobbyId, userId);
}

void SdkCore::memberUpdated(std::int64_t lobbyId, std::int64_t userId) {
    queueMemberEvent(&DiscordLobbyEvents::onMemberUpdate, lobbyId, userId);
}

void SdkCore::memberDisconnected(std::int64_t lobbyId, std::int64_t userId) {
    queueMemberEvent(&DiscordLobbyEvents::onMemberDisconnect, lobbyId, userId);
}

void SdkCore::lobbyDeleted(std::int64_t lobbyId) {
    if (control_)
        control_->clearInvitation();
    if (events_.lobby.onLobbyDelete)
        callbacks_.push([this, lobbyId] { events_.lobby.onLobbyDelete(events_.data, lobbyId, 0); });
}

void SdkCore::onRouteChanged(const std::string& route) {
    if (!events_.network.onRouteUpdate)
        return;
    callbacks_.push([this, route] { events_.network.onRouteUpdate(events_.data, route.c_str()); });
}

} // namespace sdk
