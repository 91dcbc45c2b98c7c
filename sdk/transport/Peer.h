#pragma once

// What the transport knows of one peer: its key and endpoints, its sessions,
// its handshake in progress, its channels and its liveness.

#include "sdk/transport/Aead.h"
#include "sdk/transport/Handshake.h"
#include "sdk/transport/ReliableChannel.h"
#include "sdk/transport/ReplayWindow.h"
#include "sdk/transport/RoundTrip.h"
#include "sdk/transport/SourceKey.h"

#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace sdk::transport {

// The keys of one handshake. A session is confirmed once it is known that
// both ends hold it: for the initiator at the response, for the responder at
// the first datagram that the initiator seals with it.
struct Session {
    Session(std::uint32_t localIndex, std::uint32_t remoteIndex, Cipher cipher,
            const SessionKeys& keys)
        : localIndex(localIndex), remoteIndex(remoteIndex), sender(cipher, keys.send),
          receiver(cipher, keys.receive) {}

    std::uint32_t localIndex;
    std::uint32_t remoteIndex;
    PacketCipher sender;
    PacketCipher receiver;
    std::uint64_t nextCounter = 0;
    ReplayWindow replay;
    bool confirmed = false;
    TimePoint confirmedAt{};
    // Responder: where the response went. The initiator's first datagram
    // from there proves that address, as an answered challenge would.
    std::optional<Endpoint> respondedTo;
};

struct ChannelState {
    Reliability reliability = Reliability::unreliable;
    bool opened = false; // by this side; parts from the other side are taken anyway
    ReliableSender sender{maxReliablePart};
    ReliableReceiver receiver;
    bool acknowledgementDue = false;
};

// Where a datagram for a peer goes, or where one came from: straight to or
// from an endpoint, or through a relay peer (at that endpoint) on behalf of
// the far peer.
struct Path {
    Endpoint endpoint;
    PeerId relay = 0; // 0: direct
    PeerId far = 0;   // through a relay: the peer at the other end

    bool direct() const { return relay == 0; }
};

// What a relay lets one peer send through it: a byte budget refilled at a
// steady rate, so a member cannot turn the relay into a flood. 64 MiB/s
// (about 540 Mbit/s) lets one relayed stream run at what batching gives it.
struct RelayBudget {
    static constexpr double bytesPerSecond = 64.0 * 1024 * 1024;
    static constexpr double burstBytes = 1024.0 * 1024;
    double bytes = burstBytes;
    TimePoint refilledAt{};
};

// A route's endpoint is only a candidate: it carries traffic once a
// challenge sent to it (an initiation or a probe) came back from it. One
// that stays silent is asked less and less often and given up in the end.
struct Candidate {
    Endpoint endpoint;
    TimePoint firstTried{}; // unset: not asked yet
    TimePoint nextTry{};
    Milliseconds interval{0};
    bool answered = false;
    bool givenUp = false;
};

// A probe waiting for its answer: only an answer with its token, on its
// path, counts.
struct Challenge {
    std::uint64_t token = 0;
    Path path;
    TimePoint sentAt{};
};

// What a peer's unproven addresses may cost in datagrams, whatever its route
// or its datagrams from elsewhere ask for: a burst, then a steady trickle.
struct UnprovenBudget {
    static constexpr double burst = 48;
    static constexpr double perSecond = 0.5;
    double datagrams = burst;
    TimePoint refilledAt{};
};

struct Peer {
    static constexpr std::size_t maxSessions = 3;

    PeerId id = 0;
    PublicKey key{};
    bool local = false;    // this core itself: messages stay in the process
    bool opened = false;   // opened by a user below; otherwise let in by the key filter
    bool newcomer = false; // let in only to prove itself: the newcomer budget applies
    TimePoint newcomerDeadline{};
    SourceKey newcomerSource{};        // where its initiation came from
    std::uint8_t uses = 0;             // PeerUse bits: who opened it and keeps it open
    std::vector<Candidate> candidates; // from the route, usable ranges only
    std::optional<Endpoint> endpoint;  // the proven direct path
    PeerId relayedBy = 0;              // nonzero: the path in use goes through this relay
    TimePoint directReceived{};        // the latest authenticated datagram on a direct path

    std::uint64_t incarnation = 0;       // ours, renewed for every peer object
    std::uint64_t remoteIncarnation = 0; // theirs; a change means they started over
    std::uint64_t lastInitiationTimestamp = 0;

    std::vector<std::unique_ptr<Session>> sessions;
    std::optional<PendingInitiation> handshake;
    std::vector<std::uint8_t> sentInitiation; // the latest, to open a cookie reply to it
    std::vector<Endpoint> initiationSentTo;   // a response from one of these proves it
    std::optional<Cookie> cookie;             // from the peer, for mac2
    TimePoint cookieReceivedAt{};
    TimePoint handshakeSentAt{};
    TimePoint openedAt{};

    TimePoint lastReceived{};
    TimePoint lastSent{};
    bool connected = false;
    bool lossReported = false;

    RoundTrip roundTrip;
    TimePoint lastProbe{};
    std::vector<Challenge> challenges; // the newest few
    UnprovenBudget unproven;
    std::optional<std::chrono::microseconds> pathRoundTrip; // live, from probe answers
    RelayBudget relayBudget;                                // as a relay for this peer
    std::map<std::uint16_t, ChannelState> channels;

    // The newest confirmed session, which carries everything sent.
    Session* current() const {
        Session* best = nullptr;
        for (const auto& session : sessions)
            if (session->confirmed && (!best || session->confirmedAt >= best->confirmedAt))
                best = session.get();
        return best;
    }
    Session* sessionByIndex(std::uint32_t index) const {
        for (const auto& session : sessions)
            if (session->localIndex == index)
                return session.get();
        return nullptr;
    }
};

} // namespace sdk::transport
