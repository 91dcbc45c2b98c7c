#include "sdk/transport/CandidateFilter.h"
#include "sdk/transport/Transport.h"

#include <algorithm>
#include <cstring>

// How peers find and keep paths to each other across routers that translate
// addresses: probes that tell each peer where its datagrams come from (its
// reflexive address, which joins its route), direct paths preferred, and a
// relay (the lobby's host) when no direct path forms or one breaks.

namespace sdk::transport {

namespace {
// A peer that may relay or be relayed: proven, with a session and a direct path.
bool servesAsRelayEnd(const Peer& peer) {
    return !peer.local && !peer.newcomer && peer.connected && peer.relayedBy == 0 &&
           peer.endpoint && peer.current();
}
} // namespace

std::optional<Path> Transport::pathTo(const Peer& peer) const {
    if (peer.relayedBy != 0) {
        const Peer* relay = find(peer.relayedBy);
        if (!relay || !servesAsRelayEnd(*relay))
            return std::nullopt;
        return Path{*relay->endpoint, relay->id, peer.id};
    }
    if (!peer.endpoint)
        return std::nullopt;
    return Path{*peer.endpoint, 0, peer.id};
}

// Only a peer this core reaches directly at that very endpoint; a scan of a
// few peers, before any cryptography, is the whole cost of a stranger.
Peer* Transport::directPeerAt(const Endpoint& from) const {
    for (const auto& [id, peer] : peers)
        if (servesAsRelayEnd(*peer) && *peer->endpoint == from)
            return peer.get();
    return nullptr;
}

// Only proven addresses get here: a direct one always moves the peer off a
// relay; a relayed one moves it only when its direct path has gone quiet.
void Transport::takePath(Peer& peer, const Path& source) {
    if (source.direct()) {
        peer.endpoint = source.endpoint;
        peer.relayedBy = 0;
        peer.directReceived = pollTime;
        return;
    }
    if (peer.relayedBy == 0 && peer.endpoint && pollTime - peer.directReceived <= pathSilence())
        return;
    peer.relayedBy = source.relay;
}

// A working direct path stays: an address that answered a challenge is
// taken when the peer has no direct path, is relayed, or its path went
// quiet (it moved). Someone who passes our datagrams on both ways answers
// challenges too; he gets the path only when the one in use broke.
void Transport::takeProvenPath(Peer& peer, const Endpoint& at) {
    markAnswered(peer, at);
    if (isPathEndpoint(peer, at)) {
        peer.directReceived = pollTime;
        return;
    }
    if (peer.relayedBy == 0 && peer.endpoint && pollTime - peer.directReceived <= pathSilence())
        return;
    takePath(peer, Path{at, 0, peer.id});
}

void Transport::noteDirect(Peer& peer, bool proven, const Path& source) {
    if (isPathEndpoint(peer, source.endpoint)) {
        peer.directReceived = pollTime;
        return;
    }
    if (proven) {
        takeProvenPath(peer, source.endpoint);
        return;
    }
    // Anything else, a replay from elsewhere included, only earns a challenge.
    if (!peer.newcomer)
        challenge(peer, source, pollTime);
}

// The relay's side: forward between two peers that both hold sessions here,
// one datagram for one, never larger; anyone else gets nothing at all.
void Transport::handleRelayRequest(std::span<const std::uint8_t> bytes, const Endpoint& from) {
    if (!settings.relayForOthers)
        return;
    const auto relay = decodeRelay(bytes);
    if (!relay || relay->type != DatagramType::relayRequest)
        return;
    Peer* sender = directPeerAt(from);
    Peer* target = find(relay->peer);
    if (!sender || !target || target == sender || !servesAsRelayEnd(*target))
        return;
    auto& budget = sender->relayBudget;
    const double elapsed = std::chrono::duration<double>(pollTime - budget.refilledAt).count();
    budget.bytes = std::min(RelayBudget::burstBytes,
                            budget.bytes + std::max(0.0, elapsed) * RelayBudget::bytesPerSecond);
    budget.refilledAt = pollTime;
    if (budget.bytes < static_cast<double>(bytes.size()))
        return;
    budget.bytes -= static_cast<double>(bytes.size());
    encodeRelayHeader(DatagramType::relayed, sender->id, relayDatagram.data());
    std::memcpy(relayDatagram.data() + relayHeaderSize, relay->inner.data(), relay->inner.size());
    emit(*target->endpoint, std::span(relayDatagram).first(bytes.size()));
}

// The far end's side: only the lobby's host, reached directly, may hand it
// datagrams from another; the inner datagram proves itself as ever.
void Transport::handleRelayed(std::span<const std::uint8_t> bytes, const Endpoint& from,
                              TransportEvents& events) {
    const auto relayed = decodeRelay(bytes);
    if (!relayed || relayed->type != DatagramType::relayed)
        return;
    const Peer* relay = directPeerAt(from);
    if (!relay || !(relay->uses & static_cast<std::uint8_t>(PeerUse::lobby)) ||
        relayed->peer == relay->id || relayed->peer == ownPeerId)
        return;
    handlePeerDatagram(relayed->inner, Path{from, relay->id, relayed->peer}, events);
}

// Relays are the peers the lobby opened (a member's host), never the peer itself.
void Transport::sendThroughRelays(Peer& peer, std::span<const std::uint8_t> bytes) {
    for (const auto& [id, relay] : peers)
        if (relay.get() != &peer && (relay->uses & static_cast<std::uint8_t>(PeerUse::lobby)) &&
            servesAsRelayEnd(*relay))
            sendTo(Path{*relay->endpoint, relay->id, peer.id}, bytes);
}

// A probe on the path in use; while a relay carries the peer (or no path
// does), challenges to its candidates in their turns too: one that answers
// becomes the direct path.
void Transport::probe(Peer& peer, TimePoint now) {
    if (now - peer.lastProbe >= settings.probeInterval) {
        if (const auto path = pathTo(peer)) {
            peer.lastProbe = now;
            challenge(peer, *path, now);
        }
    }
    if (peer.relayedBy == 0 && peer.endpoint)
        return;
    for (auto& candidate : peer.candidates)
        if (takeTurn(peer, candidate, now))
            challenge(peer, Path{candidate.endpoint, 0, peer.id}, now, true);
}

// The answer goes where the probe came from: the prober's proof of this
// address. Off the path in use it costs the unproven budget.
void Transport::answerProbe(Peer& peer, const Frame& frame, const Path& source) {
    // A newcomer only proves the lobby's key, from where it is: it gets no
    // answers elsewhere.
    if (source.direct() && !isPathEndpoint(peer, source.endpoint) &&
        (peer.newcomer || !spendUnproven(peer, pollTime)))
        return;
    std::optional<Endpoint> seen;
    if (source.direct())
        seen = source.endpoint;
    sendFrameOn(peer, Frame{FrameKind::probeAnswer, {}, 0, 0, {}, frame.token, seen}, source);
}

// Only the answer to a challenge of ours, on the path it went out on,
// counts: for the round trip, for where we are seen from, and as the proof
// of a direct address.
void Transport::takeProbeAnswer(Peer& peer, const Frame& frame, const Path& source) {
    const auto found =
        std::find_if(peer.challenges.begin(), peer.challenges.end(), [&](const Challenge& c) {
            return c.token == frame.token && c.path.endpoint == source.endpoint &&
                   c.path.relay == source.relay;
        });
    if (found == peer.challenges.end())
        return;
    const Challenge answered = *found;
    peer.challenges.erase(found);
    const auto sample =
        std::chrono::duration_cast<std::chrono::microseconds>(pollTime - answered.sentAt);
    peer.pathRoundTrip = peer.pathRoundTrip ? (*peer.pathRoundTrip * 3 + sample) / 4 : sample;
    if (source.direct())
        takeProvenPath(peer, source.endpoint);
    if (frame.observed && !peer.newcomer && trustedReporter(peer) &&
        usableCandidate(*frame.observed, onLoopback()))
        learnReflexive(peer, *frame.observed);
}

// Where a member's core sees us from is the host's word; a core with no
// host (the host itself) takes its members' word, one entry each.
bool Transport::trustedReporter(const Peer& reporter) const {
    if (reporter.uses & static_cast<std::uint8_t>(PeerUse::lobby))
        return true;
    return std::none_of(peers.begin(), peers.end(), [](const auto& entry) {
        return (entry.second->uses & static_cast<std::uint8_t>(PeerUse::lobby)) != 0;
    });
}

void Transport::learnReflexive(const Peer& reporter, const Endpoint& seen) {
    const TimePoint now = pollTime;
    const auto mine = std::find_if(reflexive.begin(), reflexive.end(), [&](const Reflexive& entry) {
        return entry.reporter == reporter.id;
    });
    if (mine != reflexive.end() && mine->endpoint == seen) {
        mine->lastSeen = now;
        return;
    }
    if (mine != reflexive.end())
        reflexive.erase(mine);
    const bool lobby = (reporter.uses & static_cast<std::uint8_t>(PeerUse::lobby)) != 0;
    // The same endpoint from another peer keeps its age: the route stays as it was.
    TimePoint firstSeen = now;
    for (const auto& entry : reflexive)
        if (entry.endpoint == seen)
            firstSeen = std::min(firstSeen, entry.firstSeen);
    reflexive.push_back(Reflexive{reporter.id, seen, firstSeen, now, lobby});
    rebuildRoute(now);
}

// The mapped endpoint first (an invitation names only the first few), this
// machine's endpoints, then what peers see (the host's word first, then the
// newest), without repeats, within the route's bound.
void Transport::rebuildRoute(TimePoint now) {
    std::erase_if(reflexive, [&](const Reflexive& entry) {
        return now - entry.lastSeen > ReflexiveBudget::lifetime || !find(entry.reporter);
    });
    std::stable_sort(reflexive.begin(), reflexive.end(),
                     [](const Reflexive& a, const Reflexive& b) {
                         if (a.lobby != b.lobby)
                             return a.lobby;
                         return a.firstSeen > b.firstSeen;
                     });
    if (reflexive.size() > ReflexiveBudget::maxEntries)
        reflexive.resize(ReflexiveBudget::maxEntries);
    Route route{keys.publicKey, {}};
    const auto add = [&](const Endpoint& endpoint) {
        if (route.endpoints.size() < maxRouteEndpoints &&
            std::find(route.endpoints.begin(), route.endpoints.end(), endpoint) ==
                route.endpoints.end())
            route.endpoints.push_back(endpoint);
    };
    if (mappedEndpoint)
        add(*mappedEndpoint);
    for (const auto& endpoint : ownEndpoints)
        add(endpoint);
    for (const auto& entry : reflexive)
        add(entry.endpoint);
    ownRoute = formatRoute(route);
}

} // namespace sdk::transport
