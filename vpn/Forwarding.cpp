// The data plane: IPv4 packets from the adapter to the other members, and
// their packets into the adapter.
//
// The way of one packet, each hop with its file. "copy" marks where its bytes
// are copied: the copies into vectors are the engine's interface (one packet
// crosses every interface as a std::vector); the others are ours.
//
// Out, from an application to another member:
//   kernel routes it into the TUN interface "Orvanti-VPN"
//   tun/Session.cpp            WintunSessionRecord::receive: read() from the TUN
//                              descriptor; with offloads one read is a whole
//                              burst, cut into packets in the session's ring
//                              (tun/OffloadedPacket.cpp)                    copy
//   tun/SessionExports.cpp     WintunReceivePacket (interfaces/WintunExports.h)
//   adapter/WintunAdapter.cpp  receive: ring -> std::vector, release          copy
//   adapter/VirtualAdapter.cpp receive
//   vpn/NetworkRun.cpp         the main loop's pass calls forwardOutbound
//   vpn/Forwarding.cpp         forwardOutbound: IPv4 check, unicast owner or
//                              every other member (vpn/UnicastRoutes.cpp)
//   discord/NetworkManager.cpp SendMessage (interfaces/DiscordSdk.h)
//   sdk/core/NetworkService.cpp sendMessage
//   sdk/transport/Transport.cpp, TransportSend.cpp: frame written into the
//                              datagram buffer and sealed there in place      copy
//                              (sdk/transport/Aead.cpp, Wire.cpp)
//   sdk/os/linux/UdpSocket.cpp queue, then at Flush sendQueued: the pass's
//                              datagrams in one sendmmsg (UDP GSO runs)      copy
//
// In, from another member to an application here:
//   sdk/os/linux/UdpSocket.cpp receiveBatch: recvmmsg() of up to 64 datagrams copy
//   sdk/transport/TransportReceive.cpp handleData: opened into the plaintext
//                              buffer (Aead.cpp), replay window (ReplayWindow.cpp)
//   sdk/core/SdkCore.cpp       onMessage: queued for RunCallbacks as a vector copy
//   discord/NetworkManager.cpp OnMessage event, inside Core::RunCallbacks
//   vpn/NetworkRun.cpp         onPeerMessage -> deliverInbound (below)
//   vpn/Forwarding.cpp         deliverInbound: counted, into a std::vector   copy
//   adapter/WintunAdapter.cpp  send: WintunAllocateSendPacket, vector -> ring copy
//   tun/Session.cpp            WintunSessionRecord::send: with offloads the
//                              session's writer joins a TCP flow's segments
//                              into one write (tun/CoalescedWrite.cpp)       copy
//                              else write() to the TUN descriptor
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
        if (!discovery.fromAdapter({packet.data(), *packetLength}) || !lobbyHasAnotherMember())
            continue;
        const auto length = static_cast<std::uint32_t>(*packetLength);
        if (std::optional<discord::NetworkPeerId> owner =
                unicastRoutes.ownerOf(peer::destinationAddress(packet.data()));
            owner && *owner != ownPeerId && knownPeers.contains(*owner)) {
            network.SendMessage(*owner, peer::dataChannel, packet.data(), length);
            continue;
        }
        sendToEveryMember(packet.data(), length);
    }
}

void NetworkRun::sendToEveryMember(const std::uint8_t* packet, std::uint32_t length) {
    discord::NetworkManager& network = core->NetworkManager();
    for (discord::NetworkPeerId recipient : knownPeers)
        if (recipient != ownPeerId)
            network.SendMessage(recipient, peer::dataChannel, packet, length);
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
