// The run's lobby: creating it (host), joining it (after an invitation),
// losing it, and what this machine publishes about itself.
#include "vpn/NetworkRun.h"
#include "vpn/PeerProtocol.h"
#include "vpn/Vpn.h"

#include <exception>
#include <string>

void NetworkRun::onLobbyCreated(discord::Result result, const discord::Lobby& created) {
    if (result != discord::Result::Ok) {
        vpn.fail("Cannot create lobby");
        return;
    }
    connected = true;
    if (!createAdapter())
        return;
    lobby = created;
    inLobby = true;
    hostPeerId = ownPeerId;
    publishOwnMetadata();

    discord::LobbyManager& lobbies = core->LobbyManager();
    std::int32_t memberCount = 0;
    lobbies.MemberCount(lobby.GetId(), &memberCount);
    char secret[discordTextSize] = {};
    lobbies.GetLobbyActivitySecret(lobby.GetId(), secret);

    activity.SetDetails("");
    activity.SetState(peer::hostActivityState);
    activity.SetType(discord::ActivityType::Playing);
    activity.GetParty().GetSize().SetMaxSize(static_cast<std::int32_t>(lobby.GetCapacity()));
    activity.GetParty().GetSize().SetCurrentSize(memberCount);
    activity.GetParty().SetId(std::to_string(lobby.GetId()).c_str());
    activity.GetSecrets().SetJoin(secret);
    core->ActivityManager().UpdateActivity(activity, [](discord::Result) {});
}

void NetworkRun::onActivityJoin(const char* secret) {
    if (connected) {
        vpn.postMessage("Cannot join, already connected");
        return;
    }
    connected = true;
    core->LobbyManager().ConnectLobbyWithActivitySecret(secret,
                                                        guarded(&NetworkRun::onLobbyConnected));
}

void NetworkRun::onLobbyConnected(discord::Result result, const discord::Lobby& joined) {
    if (result != discord::Result::Ok) {
        vpn.fail("Cannot connect to lobby");
        return;
    }
    lobby = joined;
    inLobby = true;
    if (!createAdapter())
        return;

    // Reach every member that has already published itself.
    visitMembers([this](discord::UserId userId) {
        onMemberUpdate(lobby.GetId(), userId);
        return true;
    });
    publishOwnMetadata();

    activity.SetDetails("");
    activity.SetState(peer::memberActivityState);
    core->ActivityManager().UpdateActivity(activity, [](discord::Result) {});
}

void NetworkRun::onLobbyDeleteStop(discord::LobbyId, std::uint32_t) {
    vpn.requestStop();
}

void NetworkRun::onLobbyDeleteReport(discord::LobbyId, std::uint32_t) {
    vpn.fail("Lobby disconnected.");
}

void NetworkRun::onCurrentUserUpdate() {
    core->UserManager().GetCurrentUser(&currentUser);
}

// A run without its adapter cannot do anything: its failure ends the run with
// the adapter's own text.
bool NetworkRun::createAdapter() {
    try {
        auto created = std::make_unique<VirtualAdapter>();
        adapter = std::move(created); // a previous adapter goes after the new one exists
        return true;
    } catch (const std::exception& error) {
        vpn.fail(error.what());
        return false;
    }
}

void NetworkRun::publishOwnMetadata() {
    discord::LobbyManager& lobbies = core->LobbyManager();
    discord::LobbyMemberTransaction transaction;
    lobbies.GetMemberUpdateTransaction(lobby.GetId(), currentUser.GetId(), &transaction);
    transaction.SetMetadata(peer::peerIdKey, peer::peerIdText(ownPeerId).c_str());
    transaction.SetMetadata(peer::routeKey, routeText.c_str());
    lobbies.UpdateMember(lobby.GetId(), currentUser.GetId(), transaction, [](discord::Result) {});
}
