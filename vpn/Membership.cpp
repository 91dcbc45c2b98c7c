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
    if (vpn.isHostRun())
        sendNextAddress(*peerId);
}

// The host hands out its network's addresses in order, its own first, and
// never the network's broadcast address.
void NetworkRun::sendNextAddress(discord::NetworkPeerId peerId) {
    if (!nextAddress) {
        vpn.postMessage("The network has no free address for a new member.");
        return;
    }
    const std::string message = peer::addressMessage(*nextAddress);
    core->NetworkManager().SendMessage(peerId, peer::controlChannel,
                                       reinterpret_cast<const std::uint8_t*>(message.data()),
                                       static_cast<std::uint32_t>(message.size()));
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

void NetworkRun::onRouteUpdate(const char* route) {
    if (!connected) {
        routeText = route;
        return;
    }
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
        onControlMessage(data, length);
}

void NetworkRun::onControlMessage(const std::uint8_t* data, std::uint32_t length) {
    const std::optional<Ipv4Cidr> address = peer::readAddressMessage(data, length);
    if (!address || !adapter)
        return;
    try {
        adapter->setAddress(*address);
    } catch (const std::exception& error) {
        vpn.fail(std::string("Cannot set IP on adapter: ") + error.what());
        return;
    }
    vpn.setOwnAddress(*address);
    unicastRoutes.setLocalNetwork(*address);
}
