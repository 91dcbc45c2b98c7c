#include "sdk/core/SdkCore.h"

namespace sdk {

namespace {
using transport::TransportStatus;

DiscordResultCode resultOf(TransportStatus status) {
    switch (status) {
    case TransportStatus::ok:
        return DiscordResult_Ok;
    case TransportStatus::unknownPeer:
    case TransportStatus::unknownChannel:
        return DiscordResult_NotFound;
    case TransportStatus::peerExists:
    case TransportStatus::channelExists:
        return DiscordResult_AlreadyExists;
    case TransportStatus::invalidRoute:
        return DiscordResult_InvalidRoute;
    case TransportStatus::tooLarge:
        return DiscordResult_MessageTooLarge;
    case TransportStatus::queueFull:
        return DiscordResult_BufferFull;
    case TransportStatus::notConnected:
        return DiscordResult_NotConnected;
    case TransportStatus::sendFailed:
        return DiscordResult_NetworkError;
    }
    return DiscordResult_InternalError;
}

transport::Channel channelOf(DiscordNetworkChannelId id) {
    return transport::Channel{id, false};
}
} // namespace

void initNetworkService(Service<DiscordNetworkManager>& service) {
    service.getPeerId = [](DiscordNetworkManager* self, DiscordNetworkPeerId* peerId) {
        if (peerId)
            *peerId = coreOf(self).transport().peerId();
    };
    service.flush = [](DiscordNetworkManager* self) {
        SdkCore& core = coreOf(self);
        core.transport().flush();
        core.updateWaitHandle();
        return DiscordResultCode{DiscordResult_Ok};
    };
    // In a lobby a peer is a member: a key no member holds, or a route that
    // another member published for it, fails and nothing is sent anywhere.
    service.openPeer = [](DiscordNetworkManager* self, DiscordNetworkPeerId peerId,
                          const char* route) {
        if (!route)
            return DiscordResultCode{DiscordResult_InvalidArgument};
        SdkCore& core = coreOf(self);
        if (const auto check = core.lobbies().peerRouteCheck(peerId, route);
            check != DiscordResult_Ok)
            return check;
        return resultOf(core.transport().openPeer(peerId, route));
    };
    service.updatePeer = [](DiscordNetworkManager* self, DiscordNetworkPeerId peerId,
                            const char* route) {
        if (!route)
            return DiscordResultCode{DiscordResult_InvalidArgument};
        SdkCore& core = coreOf(self);
        if (const auto check = core.lobbies().peerRouteCheck(peerId, route);
            check != DiscordResult_Ok)
            return check;
        auto status = core.transport().updatePeer(peerId, route);
        // A member admitted again after it left (its peer went with it): the
        // program knows it already and only updates it, so it opens here.
        if (status == TransportStatus::unknownPeer && core.lobbies().currentLobby())
            status = core.transport().openPeer(peerId, route);
        return resultOf(status);
    };
    service.closePeer = [](DiscordNetworkManager* self, DiscordNetworkPeerId peerId) {
        return resultOf(coreOf(self).transport().closePeer(peerId));
    };
    service.openChannel = [](DiscordNetworkManager* self, DiscordNetworkPeerId peerId,
                             DiscordNetworkChannelId channelId, bool reliable) {
        return resultOf(coreOf(self).transport().openChannel(
            peerId, channelOf(channelId),
            reliable ? transport::Reliability::reliable : transport::Reliability::unreliable));
    };
    service.closeChannel = [](DiscordNetworkManager* self, DiscordNetworkPeerId peerId,
                              DiscordNetworkChannelId channelId) {
        return resultOf(coreOf(self).transport().closeChannel(peerId, channelOf(channelId)));
    };
    service.sendMessage = [](DiscordNetworkManager* self, DiscordNetworkPeerId peerId,
                             DiscordNetworkChannelId channelId, const std::uint8_t* data,
                             std::uint32_t length) {
        if (!data && length > 0)
            return DiscordResultCode{DiscordResult_InvalidArgument};
        const std::span<const std::uint8_t> bytes(data, data ? length : 0);
        SdkCore& core = coreOf(self);
        const auto status = core.transport().send(peerId, channelOf(channelId), bytes);
        // A message to this core itself waits for the next runCallbacks.
        if (peerId == core.transport().peerId())
            core.updateWaitHandle();
        return resultOf(status);
    };
}

} // namespace sdk
