#include "sdk/core/SdkCore.h"

#include "sdk/core/EntryGuard.h"
#include "sdk/core/JoinReasons.h"

#include "sdk/control/ClientProcess.h"
#include "sdk/control/ControlServer.h"
#include "sdk/control/ControlSocketPath.h"
#include "sdk/lobby/UserName.h"
#include "sdk/os/CurrentUser.h"
#include "sdk/os/LocalAddresses.h"

#include <sodium.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <system_error>
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
    out.batchDatagrams = settings.batchDatagrams;
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
    // The name every member sees: the lobby carries it cleaned.
    const std::string name =
        lobby::cleanUserName(settings.userName.value_or(os::loginName()), user.id);
    copyText(user.username, sizeof user.username, name.c_str());
    copyText(user.discriminator, sizeof user.discriminator, "0");
    return user;
}

bool hasDisplay() {
    return os::hasDisplay(environmentSetting);
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
    : events(eventTablesOf(params)), currentUserRecord(userOf(settings)),
      peerTransport(transportSettingsOf(settings)),
      lobbySession(peerTransport, *this, currentUserRecord.id, currentUserRecord.username,
                   settings.peerTimeout) {

    for (auto* service :
         {&users.core, &network.core, &lobbyService.core, &activities.core, &overlay.core,
          &relationships.core, &store.core, &voice.core, &achievements.core})
        *service = this;
    initUserService(users);
    initNetworkService(network);
    initLobbyService(lobbyService);
    initActivityService(activities);
    initOverlayService(overlay);
    initRelationshipService(relationships);
    initStoreService(store);
    initVoiceService(voice);
    initAchievementService(achievements);

    destroy = [](DiscordCoreInterface* self) { delete static_cast<SdkCore*>(self); };
    DiscordCoreInterface::runCallbacks = [](DiscordCoreInterface* self) {
        return static_cast<SdkCore*>(self)->runCallbacks();
    };
    getUserManager = [](DiscordCoreInterface* self) {
        return tableOf(static_cast<SdkCore*>(self)->users);
    };
    getActivityManager = [](DiscordCoreInterface* self) {
        return tableOf(static_cast<SdkCore*>(self)->activities);
    };
    getRelationshipManager = [](DiscordCoreInterface* self) {
        return tableOf(static_cast<SdkCore*>(self)->relationships);
    };
    getLobbyManager = [](DiscordCoreInterface* self) {
        return tableOf(static_cast<SdkCore*>(self)->lobbyService);
    };
    getNetworkManager = [](DiscordCoreInterface* self) {
        return tableOf(static_cast<SdkCore*>(self)->network);
    };
    getOverlayManager = [](DiscordCoreInterface* self) {
        return tableOf(static_cast<SdkCore*>(self)->overlay);
    };
    getStoreManager = [](DiscordCoreInterface* self) {
        return tableOf(static_cast<SdkCore*>(self)->store);
    };
    getVoiceManager = [](DiscordCoreInterface* self) {
        return tableOf(static_cast<SdkCore*>(self)->voice);
    };
    getAchievementManager = [](DiscordCoreInterface* self) {
        return tableOf(static_cast<SdkCore*>(self)->achievements);
    };

    // No exception reaches the program through any of these tables.
    injectedFault = settings.faultAt;
    guardEntries(*this);

    callbackQueue.setMessageSink(&SdkCore::deliverMessage, this);
    // The program needs its user id before any lobby result: this event is
    // the first thing the first runCallbacks delivers.
    if (events.user.onCurrentUserUpdate)
        callbackQueue.push([this] { events.user.onCurrentUserUpdate(events.data); });
    // A launch from an invitation: the join is waiting before anything else
    // the program hears of, its own route included.
    if (settings.launchInvitation && events.activity.onActivityJoin)
        callbackQueue.push([this, secret = *settings.launchInvitation] {
            events.activity.onActivityJoin(events.data, secret.c_str());
        });
    startControl();
    startPortMapping(settings);
    if ((params.flags & DiscordCreateFlags_VaskorWaitHandle) != 0)
        startWaitSet();
}

// Without descriptors for it the core works as before: the program sees no
// handle and keeps its own pace.
void SdkCore::startWaitSet() {
    try {
        auto created = std::make_unique<os::WaitSet>();
        created->watch(peerTransport.waitDescriptor());
        if (control)
            created->watch(control->pollFd());
        waitSet = std::move(created);
    } catch (const std::exception& error) {
        reportNote(std::string("no wait handle: ") + error.what());
        return;
    }
    callbackQueue.setWaitSet(waitSet.get());
    if (!callbackQueue.empty())
        waitSet->wakeUp();
    updateWaitHandle();
}

// A descriptor on Linux, an event handle on Windows: the seam's Handle holds either.
DiscordWaitHandle SdkCore::waitHandle() const {
    if (!waitSet)
        return discordNoWaitHandle;
#ifdef _WIN32
    return reinterpret_cast<DiscordWaitHandle>(waitSet->handle());
#else
    return static_cast<DiscordWaitHandle>(waitSet->handle());
#endif
}

void SdkCore::updateWaitHandle() {
    if (!waitSet)
        return;
    if (!callbackQueue.empty()) {
        waitSet->wakeUp();
        return;
    }
    auto due = peerTransport.nextDeadline();
    if (const auto lobbyDue = lobbySession.nextDeadline(); lobbyDue && (!due || *lobbyDue < *due))
        due = lobbyDue;
    if (const auto controlDue = control ? control->nextDeadline() : std::nullopt;
        controlDue && (!due || *controlDue < *due))
        due = controlDue;
    // The port mapper's thread wakes nobody: look at it every 50 ms meanwhile.
    if (invitationDue) {
        const auto look = std::min(*invitationDue, std::chrono::steady_clock::now() +
                                                       std::chrono::milliseconds(50));
        if (!due || look < *due)
            due = look;
    }
    waitSet->wakeAt(due);
}

SdkCore::~SdkCore() {
    *aliveToken = false;
    callbackQueue.clear();
}

// A core that announces only loopback addresses cannot be reached from
// elsewhere anyway: nothing to ask the router for.
void SdkCore::startPortMapping(const Settings& settings) {
    const auto& announced = settings.announcedAddresses;
    if (!settings.portMapping ||
        (!announced.empty() &&
         std::all_of(announced.begin(), announced.end(), [](const os::Endpoint& a) {
             return a.isIpv4() && os::isLoopbackAddress(a.ipv4());
         })))
        return;
    try {
        portMapper = std::make_unique<nat::PortMapper>(peerTransport.port());
    } catch (const std::system_error& error) {
        reportNote(std::string("no port mapping: ") + error.what());
    }
}

// Without a control socket the core still works; only the client window and
// the command line are missing, which is worth a line for a person.
void SdkCore::startControl() {
    try {
        control = listenForNewCore();
    } catch (const std::exception& error) {
        reportNote(std::string("no client window or command line: ") + error.what());
        return;
    }
    control->setUserName(currentUserRecord.username);
    control->reportJoinResults(events.activity.onActivityJoin != nullptr);
    auto launch = startClientProcess(control->path());
    clientWindow = std::move(launch.process);
    if (!clientWindow && hasDisplay())
        reportNote(launch.note);
}

// Sends what the last pass changed and takes the invitations given since.
void SdkCore::pollControl() {
    if (!control)
        return;
    control->setMembers(memberList());
    control->poll();
    while (auto secret = control->takeJoin()) {
        if (!events.activity.onActivityJoin)
            continue;
        deliveredJoins.push_back(*secret);
        if (deliveredJoins.size() > 16)
            deliveredJoins.pop_front();
        callbackQueue.push([this, secret = std::move(*secret)] {
            events.activity.onActivityJoin(events.data, secret.c_str());
        });
    }
}

// The lobby's members, by the names the lobby carries, as the transport
// reaches them now.
std::vector<MemberMessage> SdkCore::memberList() const {
    std::vector<MemberMessage> list;
    const auto lobbyId = lobbySession.currentLobby();
    const auto* members = lobbyId ? lobbySession.members(*lobbyId) : nullptr;
    if (!members)
        return list;
    for (const auto& member : *members) {
        MemberMessage line;
        line.name = member.record.name;
        if (member.peer == peerTransport.peerId()) {
            line.path = MemberMessage::Path::self;
        } else if (const auto path = peerTransport.pathOf(member.peer); path && path->connected) {
            line.path = path->relayed ? MemberMessage::Path::relayed : MemberMessage::Path::direct;
            if (path->endpoint)
                line.endpoint = path->endpoint->toString();
            if (path->roundTrip)
                line.roundTripMicros = path->roundTrip->count();
        }
        list.push_back(std::move(line));
    }
    return list;
}

void SdkCore::setActivity(const DiscordActivity& activity) {
    currentActivity = activity;
    currentActivity.state[sizeof currentActivity.state - 1] = '\0';
    currentActivity.secrets.join[sizeof currentActivity.secrets.join - 1] = '\0';
    currentActivity.party.id[sizeof currentActivity.party.id - 1] = '\0';
    if (control)
        control->setActivity(currentActivity.state, currentActivity.party.size.currentSize,
                             currentActivity.party.size.maxSize, currentActivity.party.id);
    if (waitSet)
        waitSet->wakeUp(); // the control socket's next poll sends it
}

// The invitation is the activity's join secret. When that names the lobby
// this core hosts, the secret is made afresh, so it carries the current
// endpoints even if the activity was set before an address changed. People
// press Host and then Invite at once: while the first port mapping attempt
// is under way the window says the invitation is being prepared, and shows
// it once the attempt ends (invitationWait at most), so the first invitation
// already names the mapped endpoint.
DiscordResultCode SdkCore::openInvitation(std::int32_t actionType) {
    if (actionType != DiscordActivityActionType_Join)
        return DiscordResult_NotSupported;
    if (currentActivity.secrets.join[0] == '\0')
        return DiscordResult_NotFound;
    if (!control)
        return DiscordResult_ServiceUnavailable;
    if (portMapper && !portMapper->settled() && namesHostedLobby(currentActivity.secrets.join)) {
        if (!invitationDue) {
            invitationDue = std::chrono::steady_clock::now() + invitationWait;
            control->prepareInvitation();
        }
    } else {
        invitationDue.reset();
        showInvitation();
    }
    if (waitSet)
        waitSet->wakeUp();
    return DiscordResult_Ok;
}

// The router's word on its public address is checked against what peers
// see: an observed public address that agrees confirms the mapping; when
// every observed public address disagrees (a second translation outside,
// or a device that is not the router) the mapping is not offered at all.
// Private observations (peers on the same network) say nothing either way.
void SdkCore::believeMapping() {
    auto mapped = portMapper->mapped();
    bool seenPublic = false;
    bool agrees = false;
    if (mapped)
        peerTransport.forEachObserved([&](const transport::Endpoint& seen) {
            if (seen.isIpv4() && nat::isPublicAddress(seen.ipv4())) {
                seenPublic = true;
                agrees = agrees || seen.ipv4() == mapped->ipv4();
            }
        });
    if (seenPublic && !agrees)
        mapped.reset();
    peerTransport.setMappedEndpoint(mapped, agrees);
}

bool SdkCore::namesHostedLobby(std::string_view secret) const {
    const auto hosted = lobbySession.hostedLobby();
    const auto parsed = hosted ? lobby::parseJoinSecret(secret) : std::nullopt;
    return parsed && parsed->lobbyId == *hosted;
}

void SdkCore::showInvitation() {
    std::string invitation = currentActivity.secrets.join;
    if (invitation.empty() || !control)
        return;
    if (namesHostedLobby(invitation))
        invitation = lobbySession.activitySecret(*lobbySession.hostedLobby());
    control->openInvitation(invitation);
}

void SdkCore::joinFinished(const std::string& secret, DiscordResultCode result,
                           std::chrono::milliseconds tried) {
    const auto found = std::find(deliveredJoins.begin(), deliveredJoins.end(), secret);
    if (found == deliveredJoins.end())
        return;
    deliveredJoins.erase(found);
    if (control)
        control->joinResult(result == DiscordResult_Ok,
                            result == DiscordResult_Ok ? ""
                                                       : joinFailureText(result, secret, tried));
}

void SdkCore::complete(DiscordResultCallback callback, void* data, DiscordResultCode result) {
    if (callback)
        callbackQueue.push([callback, data, result] { callback(data, result); });
}

DiscordResultCode SdkCore::runCallbacks() {
    const auto alive = aliveToken;
    if (portMapper)
        believeMapping();
    if (invitationDue && ((portMapper && portMapper->settled()) ||
                          std::chrono::steady_clock::now() >= *invitationDue)) {
        invitationDue.reset();
        showInvitation();
    }
    pollControl();
    peerTransport.poll(*this);
    lobbySession.tick(transport::Clock::now());
    callbackQueue.runWaiting(alive);
    if (!*alive)
        return DiscordResult_Ok;
    // What woke the handle was taken in this call; what is left sets it again.
    if (waitSet)
        waitSet->clearWakeUp();
    updateWaitHandle();
    return DiscordResult_Ok;
}

void SdkCore::onMessage(transport::PeerId peer, transport::Channel channel,
                        std::span<const std::uint8_t> bytes) {
    if (channel.internal) {
        if (channel == transport::Channel::control())
            lobbySession.onControlMessage(peer, bytes);
        return;
    }
    if (!events.network.onMessage)
        return;
    // The program hears only peers it opened and the members of its lobby;
    // a newcomer still proving the lobby key has nothing to say to it.
    if (peer != peerTransport.peerId() &&
        !peerTransport.isOpenedBy(peer, transport::PeerUse::program) &&
        !lobbySession.isMemberPeer(peer))
        return;
    callbackQueue.pushMessage(peer, channel.id, bytes);
}

void SdkCore::deliverMessage(void* self, std::uint64_t peer, std::uint8_t channel,
                             std::uint8_t* bytes, std::uint32_t length) {
    auto& core = *static_cast<SdkCore*>(self);
    core.events.network.onMessage(core.events.data, peer, channel, bytes, length);
}

void SdkCore::onPeerConnected(transport::PeerId peer) {
    lobbySession.onPeerConnected(peer);
}

void SdkCore::onPeerLost(transport::PeerId peer) {
    lobbySession.onPeerLost(peer);
}

void SdkCore::queueMemberEvent(void (*DiscordLobbyEvents::*event)(void*, DiscordLobbyId,
                                                                  DiscordUserId),
                               std::int64_t lobbyId, std::int64_t userId) {
    if (events.lobby.*event)
        callbackQueue.push([this, event, lobbyId, userId] {
            (events.lobby.*event)(events.data, lobbyId, userId);
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
    if (control)
        control->clearInvitation();
    if (events.lobby.onLobbyDelete)
        callbackQueue.push(
            [this, lobbyId] { events.lobby.onLobbyDelete(events.data, lobbyId, 0); });
}

void SdkCore::onRouteChanged(const std::string& route) {
    if (!events.network.onRouteUpdate)
        return;
    callbackQueue.push([this, route] { events.network.onRouteUpdate(events.data, route.c_str()); });
}

} // namespace sdk
