#include "sdk/transport/Transport.h"

#include "sdk/os/LocalAddresses.h"

namespace sdk::transport {

namespace {
constexpr Milliseconds routeCheckInterval{1000};
} // namespace

void Transport::refreshRoute(TimePoint now, TransportEvents& events) {
    if (settings.announcedAddresses.empty() && now - lastRouteCheck >= routeCheckInterval) {
        lastRouteCheck = now;
        Route route{keys.publicKey, {}};
        for (const auto address : os::localIpv4Addresses())
            if (route.endpoints.size() < maxRouteEndpoints)
                route.endpoints.push_back(Endpoint{address, socket.port()});
        ownRoute = formatRoute(route);
    }
    if (ownRoute != reportedRoute) {
        reportedRoute = ownRoute;
        events.onRouteChanged(ownRoute);
    }
}

void Transport::service(Peer& peer, TimePoint now, TransportEvents& events) {
    if (peer.local)
        return;
    if (peer.connected && now - peer.lastReceived > settings.peerTimeout)
        markLost(peer, &events);
    if (!peer.connected) {
        if (!peer.lossReported && peer.opened && now - peer.openedAt > settings.peerTimeout)
            markLost(peer, &events);
        if (peer.opened && now - peer.handshakeSentAt >= settings.handshakeRetry)
            sendInitiation(peer, now);
        return;
    }
    // A route change may have asked elsewhere; keep asking until someone answers.
    if (peer.handshake && now - peer.handshakeSentAt >= settings.handshakeRetry)
        sendInitiation(peer, now);
    sendReliable(peer, now);
    if (now - peer.lastSent >= settings.keepAliveInterval)
        sendFrame(peer, Frame{FrameKind::keepAlive, {}, 0, 0, {}});
}

} // namespace sdk::transport
