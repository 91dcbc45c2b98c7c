#include "sdk/transport/CandidateFilter.h"
#include "sdk/transport/Transport.h"

#include <sodium.h>

#include <algorithm>

// What a peer may make this core send to addresses that have not proven
// themselves: a route's candidates, asked less and less often and given up
// in the end, and challenges to addresses its datagrams came from; all of it
// within the peer's unproven budget.

namespace sdk::transport {

namespace {
// Enough for the path in use and every candidate of a route at once.
constexpr std::size_t maxChallenges = maxRouteEndpoints + 8;
} // namespace

bool Transport::onLoopback() const {
    return std::any_of(ownEndpoints.begin(), ownEndpoints.end(), [](const Endpoint& endpoint) {
        return scopeOf(endpoint) == AddressScope::loopback;
    });
}

// A new route: the candidates it keeps keep their state (a member that
// publishes the same endpoints again does not ask them afresh), new ones
// start at their first turn, and unusable ranges never become candidates.
void Transport::setCandidates(Peer& peer, const std::vector<Endpoint>& endpoints) {
    const bool loopback = onLoopback();
    std::vector<Candidate> next;
    for (const auto& endpoint : endpoints) {
        if (!usableCandidate(endpoint, loopback) ||
            std::any_of(next.begin(), next.end(),
                        [&](const Candidate& c) { return c.endpoint == endpoint; }))
            continue;
        const auto old = std::find_if(peer.candidates.begin(), peer.candidates.end(),
                                      [&](const Candidate& c) { return c.endpoint == endpoint; });
        next.push_back(old != peer.candidates.end() ? *old : Candidate{endpoint});
    }
    peer.candidates = std::move(next);
}

bool Transport::spendUnproven(Peer& peer, TimePoint now) {
    auto& budget = peer.unproven;
    if (budget.refilledAt == TimePoint{})
        budget.refilledAt = now;
    const double elapsed = std::chrono::duration<double>(now - budget.refilledAt).count();
    budget.datagrams =
        std::min(UnprovenBudget::burst,
                 budget.datagrams + std::max(0.0, elapsed) * UnprovenBudget::perSecond);
    budget.refilledAt = now;
    if (budget.datagrams < 1.0)
        return false;
    budget.datagrams -= 1.0;
    return true;
}

bool Transport::isPathEndpoint(const Peer& peer, const Endpoint& endpoint) const {
    return peer.relayedBy == 0 && peer.endpoint == endpoint;
}

bool Transport::takeTurn(Peer& peer, Candidate& candidate, TimePoint now) {
    if (candidate.givenUp || isPathEndpoint(peer, candidate.endpoint))
        return false;
    if (candidate.firstTried != TimePoint{} && now < candidate.nextTry)
        return false;
    if (candidate.firstTried == TimePoint{}) {
        candidate.firstTried = now;
    } else if (!candidate.answered && now - candidate.firstTried >= settings.candidateLifetime) {
        candidate.givenUp = true;
        return false;
    }
    if (!spendUnproven(peer, now)) {
        // Its turn comes again when the budget has a datagram for it.
        candidate.nextTry =
            now + std::chrono::duration_cast<Milliseconds>(
                      std::chrono::duration<double>(1.0 / UnprovenBudget::perSecond));
        return false;
    }
    candidate.interval = candidate.interval == Milliseconds{0}
                             ? settings.handshakeRetry
                             : std::min(candidate.interval * 2, settings.candidateRetryLimit);
    candidate.nextTry = now + candidate.interval;
    return true;
}

void Transport::markAnswered(Peer& peer, const Endpoint& endpoint) {
    for (auto& candidate : peer.candidates)
        if (candidate.endpoint == endpoint) {
            candidate.answered = true;
            candidate.givenUp = false;
            candidate.interval = Milliseconds{0};
        }
}

void Transport::challenge(Peer& peer, const Path& path, TimePoint now, bool paid) {
    const bool offPath = path.direct() && !isPathEndpoint(peer, path.endpoint);
    if (offPath && !paid) {
        // One open challenge per address at a time, and none beyond the budget.
        const bool waiting =
            std::any_of(peer.challenges.begin(), peer.challenges.end(), [&](const Challenge& c) {
                return c.path.direct() && c.path.endpoint == path.endpoint &&
                       now - c.sentAt < settings.probeInterval;
            });
        if (waiting || !spendUnproven(peer, now))
            return;
    }
    std::uint64_t token = 0;
    randombytes_buf(&token, sizeof token);
    std::erase_if(peer.challenges,
                  [&](const Challenge& c) { return now - c.sentAt > settings.peerTimeout; });
    if (peer.challenges.size() >= maxChallenges)
        peer.challenges.erase(peer.challenges.begin());
    peer.challenges.push_back(Challenge{token, path, now});
    sendFrameOn(peer, Frame{FrameKind::probe, {}, 0, 0, {}, token, std::nullopt}, path);
}

bool Transport::hasRelayFor(const Peer& peer) const {
    return std::any_of(peers.begin(), peers.end(), [&](const auto& entry) {
        const Peer& relay = *entry.second;
        return &relay != &peer && (relay.uses & static_cast<std::uint8_t>(PeerUse::lobby)) &&
               !relay.local && relay.connected && relay.relayedBy == 0 && relay.endpoint;
    });
}

std::optional<TimePoint> Transport::nextAsk(const Peer& peer) const {
    std::optional<TimePoint> earliest;
    if (peer.endpoint || hasRelayFor(peer))
        earliest = peer.handshakeSentAt + settings.handshakeRetry;
    for (const auto& candidate : peer.candidates) {
        if (candidate.givenUp || isPathEndpoint(peer, candidate.endpoint))
            continue;
        const TimePoint turn =
            std::max(candidate.firstTried == TimePoint{} ? TimePoint{} : candidate.nextTry,
                     peer.handshakeSentAt + settings.handshakeRetry);
        if (!earliest || turn < *earliest)
            earliest = turn;
    }
    return earliest;
}

} // namespace sdk::transport
