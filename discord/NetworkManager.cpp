#include "discord/NetworkManager.h"

namespace discord {

void NetworkManager::GetPeerId(NetworkPeerId* peerId) {
    internal_->getPeerId(internal_, peerId);
}

Result NetworkManager::Flush() {
    return resultOf(internal_->flush(internal_));
}

Result NetworkManager::OpenPeer(NetworkPeerId peerId, const char* route) {
    return resultOf(internal_->openPeer(internal_, peerId, route));
}

Result NetworkManager::UpdatePeer(NetworkPeerId peerId, const char* route) {
    return resultOf(internal_->updatePeer(internal_, peerId, route));
}

Result NetworkManager::ClosePeer(NetworkPeerId peerId) {
    return resultOf(internal_->closePeer(internal_, peerId));
}

Result NetworkManager::OpenChannel(NetworkPeerId peerId, NetworkChannelId channelId,
                                   bool reliable) {
    return resultOf(internal_->openChannel(internal_, peerId, channelId, reliable));
}

Result NetworkManager::CloseChannel(NetworkPeerId peerId, NetworkChannelId channelId) {
    return resultOf(internal_->closeChannel(internal_, peerId, channelId));
}

Result NetworkManager::SendMessage(NetworkPeerId peerId, NetworkChannelId channelId,
                                   const std::uint8_t* data, std::uint32_t dataLength) {
    return resultOf(internal_->sendMessage(internal_, peerId, channelId, data, dataLength));
}

} // namespace discord
