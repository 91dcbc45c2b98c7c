#pragma once

// One SDK core: the object behind DiscordCoreInterface. It owns the transport,
// the current user, the managers' tables and the queue of callbacks.

#include "interfaces/DiscordSdk.h"
#include "sdk/core/CallbackQueue.h"
#include "sdk/core/Settings.h"
#include "sdk/lobby/LobbySession.h"
#include "sdk/nat/PortMapper.h"
#include "sdk/os/WaitSet.h"
#include "sdk/transport/Transport.h"

#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <vector>

class ControlServer;
struct MemberMessage;

namespace sdk::os {
class ChildProcess;
}

namespace sdk {

class SdkCore;

// Each manager's function table with the core it belongs to.
template <typename Table> struct Service : Table { SdkCore* core = nullptr; };
template <typename Table> SdkCore& coreOf(Table* table) {
    return *static_cast<Service<Table>*>(table)->core;
}

void initUserService(Service<DiscordUserManager>& service);
void initNetworkService(Service<DiscordNetworkManager>& service);
void initLobbyService(Service<DiscordLobbyManager>& service);
void initActivityService(Service<DiscordActivityManager>& service);
void initOverlayService(Service<DiscordOverlayManager>& service);
void initRelationshipService(Service<DiscordRelationshipManager>& service);
void initStoreService(Service<DiscordStoreManager>& service);
void initVoiceService(Service<DiscordVoiceManager>& service);
void initAchievementService(Service<DiscordAchievementManager>& service);

// The event tables the program gave, copied; empty where it gave none.
struct EventTables {
    void* data = nullptr;
    DiscordUserEvents user{};
    DiscordActivityEvents activity{};
    DiscordRelationshipEvents relationship{};
    DiscordLobbyEvents lobby{};
    DiscordNetworkEvents network{};
    DiscordOverlayEvents overlay{};
    DiscordStoreEvents store{};
    DiscordVoiceEvents voice{};
    DiscordAchievementEvents achievement{};
};

class SdkCore : public DiscordCoreInterface,
                private transport::TransportEvents,
                private lobby::LobbyEvents {
public:
    // Throws std::runtime_error when the network cannot start.
    SdkCore(const DiscordCreateParams& params, const Settings& settings);
    ~SdkCore() override;

    CallbackQueue& callbacks() { return callbackQueue; }
    transport::Transport& transport() { return peerTransport; }
    const DiscordUser& currentUser() const { return currentUserRecord; }
    lobby::LobbySession& lobbies() { return lobbySession; }

    // The activity as the program last set it, shown in the client window.
    void setActivity(const DiscordActivity& activity);
    // Shows the invitation to the program's lobby in the client window.
    DiscordResultCode openInvitation(std::int32_t actionType);
    // How long an invitation asked for during the first port mapping
    // attempt waits for it to end, so that it names the mapped endpoint.
    static constexpr std::chrono::milliseconds invitationWait{4000};

    // A join with this secret ended: when a client gave the secret, it hears
    // the result with the reason.
    void joinFinished(const std::string& secret, DiscordResultCode result,
                      std::chrono::milliseconds tried);

    // Queues a completion; a null callback is allowed and queues nothing.
    void complete(DiscordResultCallback callback, void* data, DiscordResultCode result);
    DiscordResultCode runCallbacks();
    // True for the entry point that is to fail (Settings::faultAt).
    bool faultAt(const char* entry) const {
        return !injectedFault.empty() && injectedFault == entry;
    }

    // The wait handle (our extension), or discordNoWaitHandle when the
    // program did not ask for it or the system gave none.
    DiscordWaitHandle waitHandle() const;
    // Sets the wait handle's timer to what the core waits for now; after the
    // calls that change it.
    void updateWaitHandle();

private:
    void onMessage(transport::PeerId peer, transport::Channel channel,
                   std::span<const std::uint8_t> bytes) override;
    void onRouteChanged(const std::string& route) override;
    void onPeerConnected(transport::PeerId peer) override;
    void onPeerLost(transport::PeerId peer) override;

    void memberConnected(std::int64_t lobbyId, std::int64_t userId) override;
    void memberUpdated(std::int64_t lobbyId, std::int64_t userId) override;
    void memberDisconnected(std::int64_t lobbyId, std::int64_t userId) override;
    void lobbyDeleted(std::int64_t lobbyId) override;
    void queueMemberEvent(void (*DiscordLobbyEvents::*event)(void*, DiscordLobbyId, DiscordUserId),
                          std::int64_t lobbyId, std::int64_t userId);

    // Whether a join secret names the lobby this core hosts (made afresh then).
    bool namesHostedLobby(std::string_view secret) const;
    void showInvitation();
    void believeMapping();
    void startControl();
    void startPortMapping(const Settings& settings);
    void pollControl();
    std::vector<MemberMessage> memberList() const;
    void startWaitSet();
    static void deliverMessage(void* self, std::uint64_t peer, std::uint8_t channel,
                               std::uint8_t* bytes, std::uint32_t length);

    EventTables events;
    std::unique_ptr<os::WaitSet> waitSet; // only when the program asked for the wait handle
    DiscordUser currentUserRecord{};
    // Before the transport, so that they go after it: the peers hear of the
    // end at once, whatever the window takes to close.
    std::unique_ptr<ControlServer> control;         // none when the socket cannot be had
    std::unique_ptr<os::ChildProcess> clientWindow; // none without a display
    // Goes after the transport: the peers hear of the end before the
    // router is asked to take the mapping back.
    std::unique_ptr<nat::PortMapper> portMapper; // none when the settings turn it off
    // An invitation waiting for the first port mapping attempt, shown by then at the latest.
    std::optional<std::chrono::steady_clock::time_point> invitationDue;
    transport::Transport peerTransport;
    lobby::LobbySession lobbySession;
    CallbackQueue callbackQueue;
    DiscordActivity currentActivity{};
    std::shared_ptr<bool> aliveToken = std::make_shared<bool>(true);
    std::deque<std::string> deliveredJoins; // from the client, the latest 16
    std::string injectedFault;

    Service<DiscordUserManager> users;
    Service<DiscordNetworkManager> network;
    Service<DiscordLobbyManager> lobbyService;
    Service<DiscordActivityManager> activities;
    Service<DiscordOverlayManager> overlay;
    Service<DiscordRelationshipManager> relationships;
    Service<DiscordStoreManager> store;
    Service<DiscordVoiceManager> voice;
    Service<DiscordAchievementManager> achievements;
};

// Copies text into a fixed field: at most size - 1 bytes, then NUL.
void copyText(char* field, std::size_t size, const char* text);

} // namespace sdk
