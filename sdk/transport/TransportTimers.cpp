#include "sdk/transport/Transport.h"

#include "sdk/transport/LocalAddresses.h"

#include <vector>

namespace sdk::transport {

namespace {
constexpr Milliseconds routeCheckInterval{1000};
} // namespace

void Transport::refreshRoute(TimePoint now, TransportEvents& events) {
    if (settings.announcedAddresses.empty() && now - lastRouteCheck >= routeCheckInterval) {
        lastRouteCheck = now;
        Route route{keys.publicKey, {}};
        for (const auto address : localIpv4Addresses())
            if (route.endpoints.size() < maxRouteEndpoints)
                route.endpoints.push_back(Endpoint{address, socket.port()});
        ownRoute = formatRoute(route);
    }
    if (ownRoute != reportedRoute) {
        reportedRoute = ownRoute;
        events.onRouteChanged(ownRoute);
    }
}

// A newcomer that did not prove itself in time goes, with what it sent.
void Transport::dropExpiredNewcomers(TimePoint now, TransportEvents& events) {
    std::vector<PeerId> expired;
    for (const auto& [id, peer] : peers)
        if (peer->newcomer && !peer->opened && now >= peer->newcomerDeadline)
            expired.push_back(id);
    for (const auto id : expired) {
        Peer* peer = find(id);
        if (peer->connected)
            sendFrame(*peer, Frame{FrameKind::close, {}, 0, 0, {}});
        markLost(*peer, &events);
        // The handler may have closed it already.
        if (Peer* still = find(id))
            removePeer(*still);
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
