#pragma once

#include "discord/Event.h"
#include "discord/Types.h"

namespace discord {

// Peers, channels and messages. A route is the text OnRouteUpdate reports.
class NetworkManager {
public:
    void GetPeerId(NetworkPeerId* peerId);
    Result Flush();
    Result OpenPeer(NetworkPeerId peerId, const char* route);
    Result UpdatePeer(NetworkPeerId peerId, const char* route);
    Result ClosePeer(NetworkPeerId peerId);
    Result OpenChannel(NetworkPeerId peerId, NetworkChannelId channelId, bool reliable);
    Result CloseChannel(NetworkPeerId peerId, NetworkChannelId channelId);
    Result SendMessage(NetworkPeerId peerId, NetworkChannelId channelId, const std::uint8_t* data,
                       std::uint32_t dataLength);

    Event<NetworkPeerId, NetworkChannelId, std::uint8_t*, std::uint32_t> OnMessage;
    Event<const char*> OnRouteUpdate;

private:
    friend class Core;
    DiscordNetworkManager* internal = nullptr;
};

} // namespace discord
