#include "sdk/transport/Transport.h"

#include "sdk/os/LocalAddresses.h"

#include <vector>

namespace sdk::transport {

namespace {
constexpr Milliseconds routeCheckInterval{1000};
} // namespace

// The mapped endpoint first: an invitation names only the first few.
std::string Transport::composeRoute() const {
    Route route{keys.publicKey, {}};
    if (mappedEndpoint)
        route.endpoints.push_back(*mappedEndpoint);
    const auto addresses = settings.announcedAddresses.empty() ? os::localIpv4Addresses()
                                                               : settings.announcedAddresses;
    for (const auto address : addresses) {
        const Endpoint endpoint{address, socket.port()};
        if (route.endpoints.size() < maxRouteEndpoints && endpoint != mappedEndpoint)
            route.endpoints.push_back(endpoint);
    }
    return formatRoute(route);
}

void Transport::setMappedEndpoint(std::optional<Endpoint> endpoint) {
    if (endpoint == mappedEndpoint)
        return;
    mappedEndpoint = endpoint;
    ownRoute = composeRoute(); // reported at the next poll
}

void Transport::refreshRoute(TimePoint now, TransportEvents& events) {
    if (settings.announcedAddresses.empty() && now - lastRouteCheck >= routeCheckInterval) {
        lastRouteCheck = now;
        ownRoute = composeRoute();
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

namespace sdk::transport {

namespace {
// Time-outs compare with ">": a wake-up exactly at the limit would find nothing to do.
constexpr Milliseconds pastLimit{1};

void earliestOf(std::optional<TimePoint>& earliest, std::optional<TimePoint> candidate) {
    if (candidate && (!earliest || *candidate < *earliest))
        earliest = candidate;
}
} // namespace

// Mirrors poll: each time below is when poll's own check first passes. A
// check that cannot act (no route to ask, no session to send on) gives none,
// so the caller never wakes for nothing again and again.
std::optional<TimePoint> Transport::nextDeadline() const {
    std::optional<TimePoint> earliest;
    if (!localMessages.empty())
        return TimePoint::min();
    if (settings.announcedAddresses.empty())
        earliest = lastRouteCheck + routeCheckInterval;
    for (const auto& [id, peer] : peers) {
        earliestOf(earliest, nextDeadline(*peer));
        // dropExpiredNewcomers: a newcomer that has not proved itself by then goes.
        if (peer->newcomer && !peer->opened)
            earliestOf(earliest, peer->newcomerDeadline);
    }
    return earliest;
}

std::optional<TimePoint> Transport::nextDeadline(const Peer& peer) const {
    if (peer.local)
        return std::nullopt;
    std::optional<TimePoint> earliest;
    const bool canAsk = !peer.routeEndpoints.empty();
    if (!peer.connected) {
        if (!peer.lossReported && peer.opened)
            earliest = peer.openedAt + settings.peerTimeout + pastLimit;
        if (peer.opened && canAsk)
            earliestOf(earliest, peer.handshakeSentAt + settings.handshakeRetry);
        return earliest;
    }
    earliest = peer.lastReceived + settings.peerTimeout + pastLimit;
    if (peer.handshake && canAsk)
        earliestOf(earliest, peer.handshakeSentAt + settings.handshakeRetry);
    if (!peer.current() || !peer.endpoint)
        return earliest;
    earliestOf(earliest, peer.lastSent + settings.keepAliveInterval);
    for (const auto& [key, channel] : peer.channels) {
        if (channel.acknowledgementDue)
            return TimePoint::min();
        earliestOf(earliest, channel.sender.nextDue(peer.roundTrip));
    }
    return earliest;
}

} // namespace sdk::transport
