#include "discord/NetworkManager.h"

namespace discord {

void NetworkManager::GetPeerId(NetworkPeerId* peerId) {
    internal->getPeerId(internal, peerId);
}

Result NetworkManager::Flush() {
    return resultOf(internal->flush(internal));
}

Result NetworkManager::OpenPeer(NetworkPeerId peerId, const char* route) {
    return resultOf(internal->openPeer(internal, peerId, route));
}

Result NetworkManager::UpdatePeer(NetworkPeerId peerId, const char* route) {
    return resultOf(internal->updatePeer(internal, peerId, route));
}

Result NetworkManager::ClosePeer(NetworkPeerId peerId) {
    return resultOf(internal->closePeer(internal, peerId));
}

Result NetworkManager::OpenChannel(NetworkPeerId peerId, NetworkChannelId channelId,
                                   bool reliable) {
    return resultOf(internal->openChannel(internal, peerId, channelId, reliable));
}

Result NetworkManager::CloseChannel(NetworkPeerId peerId, NetworkChannelId channelId) {
    return resultOf(internal->closeChannel(internal, peerId, channelId));
}

Result NetworkManager::SendMessage(NetworkPeerId peerId, NetworkChannelId channelId,
                                   const std::uint8_t* data, std::uint32_t dataLength) {
    return resultOf(internal->sendMessage(internal, peerId, channelId, data, dataLength));
}

} // namespace discord
