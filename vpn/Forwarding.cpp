// The data plane: IPv4 packets from the adapter to the other members, and
// their packets into the adapter.
#include "vpn/NetworkRun.h"
#include "vpn/PeerProtocol.h"
#include "vpn/Vpn.h"

#include <vector>

void NetworkRun::forwardOutbound() {
    discord::NetworkManager& network = core->NetworkManager();
    for (;;) {
        const std::vector<std::uint8_t> packet = adapter->receive();
        vpn.addSent(packet.size());
        if (packet.empty())
            return;
        if (!peer::isIpv4Packet(packet.data(), packet.size()))
            continue;
        if (!lobbyHasAnotherMember())
            continue;
        const auto length = static_cast<std::uint32_t>(packet.size());
        if (std::optional<discord::NetworkPeerId> owner =
                unicastRoutes.ownerOf(peer::destinationAddress(packet.data()));
            owner && *owner != ownPeerId && knownPeers.contains(*owner)) {
            network.SendMessage(*owner, peer::dataChannel, packet.data(), length);
            continue;
        }
        for (discord::NetworkPeerId recipient : knownPeers)
            if (recipient != ownPeerId)
                network.SendMessage(recipient, peer::dataChannel, packet.data(), length);
    }
}

bool NetworkRun::lobbyHasAnotherMember() {
    bool found = false;
    visitMembers([&](discord::UserId userId) {
        found = userId != currentUser.GetId();
        return !found;
    });
    return found;
}

void NetworkRun::deliverInbound(discord::NetworkPeerId peerId, const std::uint8_t* data,
                                std::uint32_t length) {
    if (!adapter)
        return;
    vpn.addReceived(length);
    if (peer::isIpv4Packet(data, length))
        unicastRoutes.learn(peer::sourceAddress(data), peerId);
    adapter->send(std::vector<std::uint8_t>(data, data + length));
}
