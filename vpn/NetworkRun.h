#pragma once

// Everything of one run on this machine, owned by the worker thread: the SDK
// core and its managers, the lobby, the activity, the virtual adapter and the
// peers. Its handlers run only inside Core::RunCallbacks, one at a time.

#include "adapter/Ipv4Cidr.h"
#include "adapter/VirtualAdapter.h"
#include "discord/Core.h"
#include "vpn/Discovery.h"
#include "vpn/UnicastRoutes.h"

#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

class Vpn;

class NetworkRun {
public:
    explicit NetworkRun(Vpn& vpn);
    ~NetworkRun(); // teardown: the core first, then the adapter

    NetworkRun(const NetworkRun&) = delete;
    NetworkRun& operator=(const NetworkRun&) = delete;

    // Start-up, main loop until the run is stopped.
    void run();

private:
    // Start-up and the loop (NetworkRun.cpp).
    bool createCore();
    void subscribe();
    void requestHostLobby();
    void pass();
    void waitForWork();
    // Wraps a handler so that a failure inside it ends the run instead of
    // unwinding through the SDK.
    template <typename... Args> auto guarded(void (NetworkRun::*handler)(Args...));
    void failRun(const char* text);

    // The lobby (LobbyHandlers.cpp).
    void onLobbyCreated(discord::Result result, const discord::Lobby& created);
    void onActivityJoin(const char* secret);
    void onLobbyConnected(discord::Result result, const discord::Lobby& joined);
    void onLobbyDeleteStop(discord::LobbyId lobbyId, std::uint32_t reason);
    void onLobbyDeleteReport(discord::LobbyId lobbyId, std::uint32_t reason);
    void onCurrentUserUpdate();
    bool createAdapter();
    void publishOwnMetadata();

    // Membership and addresses (Membership.cpp).
    void onMemberUpdate(discord::LobbyId lobbyId, discord::UserId userId);
    void onMemberConnect(discord::LobbyId lobbyId, discord::UserId userId);
    void onMemberDisconnect(discord::LobbyId lobbyId, discord::UserId userId);
    void onRouteUpdate(const char* route);
    void onPeerMessage(discord::NetworkPeerId peerId, discord::NetworkChannelId channelId,
                       std::uint8_t* data, std::uint32_t length);
    void onControlMessage(discord::NetworkPeerId peerId, const std::uint8_t* data,
                          std::uint32_t length);
    void applyAddress(const Ipv4Cidr& address);
    void noteHostPeer(discord::NetworkPeerId peerId);
    void sendNextAddress(discord::NetworkPeerId peerId);
    void sendControl(discord::NetworkPeerId peerId, const std::string& message);
    void renewPartySize();
    std::string memberMetadata(discord::LobbyId lobbyId, discord::UserId userId, const char* key);

    // Packets (Forwarding.cpp).
    void forwardOutbound();
    void deliverInbound(discord::NetworkPeerId peerId, const std::uint8_t* data,
                        std::uint32_t length);
    bool lobbyHasAnotherMember();
    void sendToEveryMember(const std::uint8_t* packet, std::uint32_t length);

    // LAN discovery (LanCopies.cpp).
    bool readDiscoverySetting();
    void startDiscovery(const Ipv4Cidr& address);
    void copyLanDiscovery();
    // Calls visit with each member's user id, in the lobby's order, until it
    // returns false.
    template <typename Visit> void visitMembers(Visit visit);

    Vpn& vpn;

    std::unique_ptr<VirtualAdapter> adapter;
    std::set<discord::NetworkPeerId> knownPeers;
    bool connected = false;
    bool inLobby = false;                // the lobby's result is in: metadata can be written
    std::optional<Ipv4Cidr> nextAddress; // host: empty once the network is used up
    std::string routeText;
    std::shared_ptr<discord::Core> core;
    discord::NetworkPeerId ownPeerId = 0;
    discord::Lobby lobby;
    discord::User currentUser;
    discord::Activity activity;
    UnicastRoutes unicastRoutes;
    Discovery discovery;

    // Only the lobby owner's peer hands out addresses and tells who owns
    // which. Control messages that arrive before that peer is known wait here.
    std::optional<discord::NetworkPeerId> hostPeerId;
    std::vector<std::pair<discord::NetworkPeerId, std::vector<std::uint8_t>>> earlyControl;
    static constexpr std::size_t maxEarlyControl = 64;
    // Host: every address handed out so far, for members that join later.
    std::map<std::uint32_t, discord::NetworkPeerId> assignments;
};

template <typename Visit> void NetworkRun::visitMembers(Visit visit) {
    discord::LobbyManager& lobbies = core->LobbyManager();
    std::int32_t memberCount = 0;
    lobbies.MemberCount(lobby.GetId(), &memberCount);
    for (std::int32_t index = 0; index < memberCount; ++index) {
        discord::UserId userId = 0;
        lobbies.GetMemberUserId(lobby.GetId(), index, &userId);
        if (!visit(userId))
            return;
    }
}

template <typename... Args> auto NetworkRun::guarded(void (NetworkRun::*handler)(Args...)) {
    return [this, handler](Args... args) {
        try {
            (this->*handler)(args...);
        } catch (const std::exception& error) {
            failRun(error.what());
        }
    };
}
