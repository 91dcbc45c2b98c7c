#include "sdk/transport/Transport.h"

#include "sdk/transport/LocalAddresses.h"

namespace sdk::transport {

namespace {
constexpr Milliseconds routeCheckInterval{1000};
} // namespace

void Transport::refreshRoute(TimePoint now, TransportEvents& events) {
    if (settings_.announcedAddresses.empty() && now - lastRouteCheck_ >= routeCheckInterval) {
        lastRouteCheck_ = now;
        Route route{keys_.publicKey, {}};
        for (const auto address : localIpv4Addresses())
            if (route.endpoints.size() < maxRouteEndpoints)
                route.endpoints.push_back(Endpoint{address, socket_.port()});
        route_ = formatRoute(route);
    }
    if (route_ != reportedRoute_) {
        reportedRoute_ = route_;
        events.onRouteChanged(route_);
    }
}

void Transport::service(Peer& peer, TimePoint now, TransportEvents& events) {
    if (peer.local)
        return;
    if (peer.connected && now - peer.lastReceived > settings_.peerTimeout)
        markLost(peer, &events);
    if (!peer.connected) {
        if (!peer.lossReported && peer.opened && now - peer.openedAt > settings_.peerTimeout)
            markLost(peer, &events);
        if (peer.opened && now - peer.handshakeSentAt >= settings_.handshakeRetry)
            sendInitiation(peer, now);
        return;
    }
    // A route change may have asked elsewhere; keep asking until someone answers.
    if (peer.handshake && now - peer.handshakeSentAt >= settings_.handshakeRetry)
        sendInitiation(peer, now);
    sendReliable(peer, now);
    if (now - peer.lastSent >= settings_.keepAliveInterval)
        sendFrame(peer, Frame{FrameKind::keepAlive, {}, 0, 0, {}});
}

} // namespace sdk::transport
