// Lobby membership: a peer and its two channels for every member that has
// published itself, the host's address for each new peer, and this machine's
// route kept current.
#include "vpn/NetworkRun.h"
#include "vpn/PeerProtocol.h"
#include "vpn/Vpn.h"

#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

std::string NetworkRun::memberMetadata(discord::LobbyId lobbyId, discord::UserId userId,
                                       const char* key) {
    char value[peer::metadataValueSize] = {};
    core->LobbyManager().GetMemberMetadataValue(lobbyId, userId, key, value);
    value[sizeof value - 1] = '\0';
    return value;
}

void NetworkRun::onMemberUpdate(discord::LobbyId lobbyId, discord::UserId userId) {
    const std::string peerIdValue = memberMetadata(lobbyId, userId, peer::peerIdKey);
    const std::string route = memberMetadata(lobbyId, userId, peer::routeKey);
    if (peerIdValue.empty() || route.empty())
        return; // not published yet
    const std::optional<discord::NetworkPeerId> peerId = peer::readPeerId(peerIdValue);
    if (!peerId)
        return; // a member that is not one of ours: nothing to reach

    discord::NetworkManager& network = core->NetworkManager();
    if (knownPeers.contains(*peerId)) {
        network.UpdatePeer(*peerId, route.c_str());
        return;
    }
    knownPeers.insert(*peerId);
    network.OpenPeer(*peerId, route.c_str());
    network.OpenChannel(*peerId, peer::dataChannel, false);
    network.OpenChannel(*peerId, peer::controlChannel, true);
    if (userId == lobby.GetOwnerId())
        noteHostPeer(*peerId);
    if (vpn.isHostRun())
        sendNextAddress(*peerId);
}

// The lobby owner's peer is the host: its control messages, and only its,
// are taken from now on, those that came early included.
void NetworkRun::noteHostPeer(discord::NetworkPeerId peerId) {
    if (hostPeerId)
        return;
    hostPeerId = peerId;
    auto early = std::move(earlyControl);
    earlyControl.clear();
    for (const auto& [sender, message] : early)
        if (sender == peerId)
            onControlMessage(sender, message.data(), static_cast<std::uint32_t>(message.size()));
}

void NetworkRun::sendControl(discord::NetworkPeerId peerId, const std::string& message) {
    core->NetworkManager().SendMessage(peerId, peer::controlChannel,
                                       reinterpret_cast<const std::uint8_t*>(message.data()),
                                       static_cast<std::uint32_t>(message.size()));
}

// The host hands out its network's addresses in order, its own first, and
// never the network's broadcast address. Every member learns who has the new
// address, and a new member learns who has the earlier ones.
void NetworkRun::sendNextAddress(discord::NetworkPeerId peerId) {
    if (!nextAddress) {
        vpn.postMessage("The network has no free address for a new member.");
        return;
    }
    sendControl(peerId, peer::addressMessage(*nextAddress));
    const peer::Assignment assigned{nextAddress->address, peerId};
    for (const auto& [address, owner] : assignments)
        sendControl(peerId, peer::ownerMessage({address, owner}));
    for (discord::NetworkPeerId member : knownPeers)
        if (member != ownPeerId)
            sendControl(member, peer::ownerMessage(assigned));
    assignments[assigned.address] = peerId;
    unicastRoutes.assign(assigned.address, peerId);
    try {
        const Ipv4Cidr next = nextAddress->offset(1);
        const bool broadcast = (next.address | next.netmask()) == 0xffffffffu;
        nextAddress = broadcast ? std::nullopt : std::optional(next);
    } catch (const std::range_error&) {
        nextAddress.reset();
    }
}

void NetworkRun::onMemberConnect(discord::LobbyId, discord::UserId) {
    renewPartySize();
}

void NetworkRun::onMemberDisconnect(discord::LobbyId, discord::UserId) {
    renewPartySize();
}

void NetworkRun::renewPartySize() {
    if (!vpn.isHostRun())
        return;
    std::int32_t memberCount = 0;
    core->LobbyManager().MemberCount(lobby.GetId(), &memberCount);
    activity.GetParty().GetSize().SetCurrentSize(memberCount);
    core->ActivityManager().UpdateActivity(activity, [](discord::Result) {});
}

// The route is kept whenever it comes, also while a join is under way, and
// published as soon as there is a lobby to publish it in.
void NetworkRun::onRouteUpdate(const char* route) {
    routeText = route;
    if (!inLobby)
        return;
    discord::LobbyManager& lobbies = core->LobbyManager();
    discord::LobbyMemberTransaction transaction;
    lobbies.GetMemberUpdateTransaction(lobby.GetId(), currentUser.GetId(), &transaction);
    transaction.SetMetadata(peer::routeKey, route);
    lobbies.UpdateMember(lobby.GetId(), currentUser.GetId(), transaction, [](discord::Result) {});
}

void NetworkRun::onPeerMessage(discord::NetworkPeerId peerId, discord::NetworkChannelId channelId,
                               std::uint8_t* data, std::uint32_t length) {
    if (channelId == peer::dataChannel)
        deliverInbound(peerId, data, length);
    else if (channelId == peer::controlChannel)
        onControlMessage(peerId, data, length);
}

// Addresses and their owners come from the host's peer alone: any other
// member could otherwise move every adapter or take another's traffic.
void NetworkRun::onControlMessage(discord::NetworkPeerId peerId, const std::uint8_t* data,
                                  std::uint32_t length) {
    if (!hostPeerId) {
        if (earlyControl.size() < maxEarlyControl)
            earlyControl.emplace_back(peerId, std::vector<std::uint8_t>(data, data + length));
        return;
    }
    if (peerId != *hostPeerId)
        return;
    if (const std::optional<peer::Assignment> owner = peer::readOwnerMessage(data, length)) {
        unicastRoutes.assign(owner->address, owner->peerId);
        return;
    }
    if (const std::optional<Ipv4Cidr> address = peer::readAddressMessage(data, length))
        applyAddress(*address);
}

void NetworkRun::applyAddress(const Ipv4Cidr& address) {
    if (!adapter || !peer::isAssignable(address))
        return;
    if (vpn.isHostRun()) {
        // The host's own address is the one it was given, in its own network.
        const Ipv4Cidr& network = vpn.configuredHostAddress();
        if (address.prefix != network.prefix ||
            (address.address & network.netmask()) != (network.address & network.netmask()))
            return;
    }
    try {
        adapter->setAddress(address);
    } catch (const std::exception& error) {
        vpn.fail(std::string("Cannot set IP on adapter: ") + error.what());
        return;
    }
    vpn.setOwnAddress(address);
    unicastRoutes.setLocalNetwork(address);
    startDiscovery(address);
}
