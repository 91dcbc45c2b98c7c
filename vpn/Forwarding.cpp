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
        const std::optional<std::size_t> packetLength =
            peer::ipv4PacketLength(packet.data(), packet.size());
        if (!packetLength)
            continue;
        if (!lobbyHasAnotherMember())
            continue;
        const auto length = static_cast<std::uint32_t>(*packetLength);
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

// What a member sends is checked before this machine's system sees it: only
// a well-formed IPv4 packet goes in, and nothing a packet says changes where
// traffic goes.
void NetworkRun::deliverInbound(discord::NetworkPeerId, const std::uint8_t* data,
                                std::uint32_t length) {
    if (!adapter)
        return;
    const std::optional<std::size_t> packetLength = peer::ipv4PacketLength(data, length);
    if (!packetLength)
        return;
    vpn.addReceived(*packetLength);
    adapter->send(std::vector<std::uint8_t>(data, data + *packetLength));
}
