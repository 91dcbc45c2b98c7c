#include "sdk/transport/Transport.h"

#include "sdk/os/LocalAddresses.h"

#include <algorithm>
#include <vector>

namespace sdk::transport {

namespace {
constexpr Milliseconds routeCheckInterval{1000};
} // namespace

void Transport::setMappedEndpoint(std::optional<Endpoint> endpoint, bool confirmed) {
    mappingConfirmed = confirmed;
    if (endpoint == mappedEndpoint)
        return;
    mappedEndpoint = endpoint;
    rebuildRoute(pollTime); // reported at the next poll
}

// A core whose addresses change (another network, a new lease) announces
// its new route within a second; reflexive addresses age out with it.
void Transport::refreshRoute(TimePoint now, TransportEvents& events) {
    if (now - lastRouteCheck >= routeCheckInterval) {
        lastRouteCheck = now;
        if (settings.announcedAddresses.empty())
            ownEndpoints = localEndpoints();
        rebuildRoute(now);
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
    for (const auto id : expired)
        dropNewcomer(id, events);
}

namespace {
// The oldest newcomers of a group: of those still in their handshake, and
// of those that finished it.
struct Oldest {
    std::size_t count = 0;
    std::size_t waiting = 0;
    const Peer* oldestWaiting = nullptr;
    const Peer* oldestFinished = nullptr;

    void add(const Peer& peer) {
        ++count;
        const Peer*& oldest = peer.connected ? oldestFinished : oldestWaiting;
        if (!peer.connected)
            ++waiting;
        if (!oldest || peer.newcomerDeadline < oldest->newcomerDeadline)
            oldest = &peer;
    }
    // Which gives way: the oldest still waiting when they hold their share,
    // else the oldest that finished.
    const Peer* giving(bool waitingFirst) const {
        if (waitingFirst && oldestWaiting)
            return oldestWaiting;
        return oldestFinished ? oldestFinished : oldestWaiting;
    }
};
} // namespace

// Initiations alone (their sources may be spoofed) push out only each other
// once they hold their share; a newcomer in its first round trip is not
// pushed out by strangers that finished their handshakes, nor one that
// finished by a stream of initiations.
void Transport::makeRoomForNewcomer(const SourceKey& source, TransportEvents& events) {
    Oldest all;
    Oldest fromSource;
    for (const auto& [id, peer] : peers) {
        if (!peer->newcomer || peer->opened)
            continue;
        all.add(*peer);
        if (peer->newcomerSource == source)
            fromSource.add(*peer);
    }
    if (fromSource.count >= NewcomerBudget::maxPerSource)
        dropNewcomer(fromSource.giving(true)->id, events);
    else if (all.count >= NewcomerBudget::maxNewcomers)
        dropNewcomer(all.giving(all.waiting >= NewcomerBudget::maxWaiting)->id, events);
}

void Transport::dropNewcomer(PeerId id, TransportEvents& events) {
    Peer* peer = find(id);
    if (!peer)
        return; // a handler closed it while another went
    if (peer->connected)
        sendFrame(*peer, Frame{FrameKind::close, {}, 0, 0, {}, 0, {}});
    markLost(*peer, &events);
    // The handler may have closed it already.
    if (Peer* still = find(id))
        removePeer(*still);
}

void Transport::service(Peer& peer, TimePoint now, TransportEvents& events) {
    if (peer.local)
        return;
    if (peer.connected && now - peer.lastReceived > settings.peerTimeout)
        markLost(peer, &events);
    if (!peer.connected) {
        if (!peer.lossReported && peer.opened && now - peer.openedAt > settings.peerTimeout)
            markLost(peer, &events);
        if (const auto ask = nextAsk(peer); peer.opened && ask && now >= *ask)
            sendInitiation(peer, now);
        return;
    }
    // A route change may have asked elsewhere, or the path went quiet (a
    // router forgot its mapping, the peer moved): ask at every candidate and
    // through the relays until someone answers.
    const bool silent = now - peer.lastReceived > pathSilence();
    if (const auto ask = nextAsk(peer); (peer.handshake || silent) && ask && now >= *ask)
        sendInitiation(peer, now);
    sendReliable(peer, now);
    probe(peer, now);
    if (now - peer.lastSent >= settings.keepAliveInterval)
        sendFrame(peer, Frame{FrameKind::keepAlive, {}, 0, 0, {}, 0, {}});
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
    if (!localMessages.empty() || socket.hasQueued())
        return TimePoint::min();
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
    const auto ask = nextAsk(peer);
    if (!peer.connected) {
        if (!peer.lossReported && peer.opened)
            earliest = peer.openedAt + settings.peerTimeout + pastLimit;
        if (peer.opened)
            earliestOf(earliest, ask);
        return earliest;
    }
    earliest = peer.lastReceived + settings.peerTimeout + pastLimit;
    if (peer.handshake)
        earliestOf(earliest, ask);
    if (ask)
        earliestOf(earliest, std::max(peer.lastReceived + pathSilence() + pastLimit, *ask));
    if (!peer.current())
        return earliest;
    // probe: the candidates' turns while no direct path carries the peer.
    if (peer.relayedBy != 0 || !peer.endpoint)
        for (const auto& candidate : peer.candidates)
            if (!candidate.givenUp)
                earliestOf(earliest, candidate.firstTried == TimePoint{} ? TimePoint::min()
                                                                         : candidate.nextTry);
    if (!pathTo(peer))
        return earliest;
    earliestOf(earliest, peer.lastProbe + settings.probeInterval);
    earliestOf(earliest, peer.lastSent + settings.keepAliveInterval);
    for (const auto& [key, channel] : peer.channels) {
        if (channel.acknowledgementDue)
            return TimePoint::min();
        earliestOf(earliest, channel.sender.nextDue(peer.roundTrip));
    }
    return earliest;
}

} // namespace sdk::transport
