#pragma once

// The peer network under the SDK's managers: one UDP socket, one static key
// pair, encrypted sessions with the peers, unreliable and reliable channels.
//
// It starts no thread. Everything happens inside the calls below, and events
// reach the caller only inside poll. The managers know nothing of its wire
// format; the lobby layer reaches it through the internal control channel and
// decides with the key filter which keys may connect without being opened.

#include "sdk/os/UdpSocket.h"
#include "sdk/transport/Cookie.h"
#include "sdk/transport/InitiationLimiter.h"
#include "sdk/transport/Keys.h"
#include "sdk/transport/Peer.h"
#include "sdk/transport/Route.h"
#include "sdk/transport/Wire.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sdk::transport {

struct TransportSettings {
    std::uint16_t port = 0;                   // 0: any free port
    std::vector<Endpoint> announcedAddresses; // ports unused; empty: this machine's own
    Milliseconds keepAliveInterval{1000};
    Milliseconds peerTimeout{10000};
    Milliseconds handshakeRetry{500};
    bool allowAes = true;
    InitiationLimits initiationLimits;
    // No direct path by then (or a path silent that long): ask through a
    // relay too, and look for a path again.
    Milliseconds relayAfter{3000};
    Milliseconds pathSilence{3000};
    // Probes measure the live round trip, tell each peer its reflexive
    // address, and look for a direct path while a relay carries a peer.
    Milliseconds probeInterval{2000};
    // A candidate that never answered is asked again after handshakeRetry,
    // then twice as long each time up to candidateRetryLimit, and given up
    // once candidateLifetime has passed since it was first asked.
    Milliseconds candidateRetryLimit{60000};
    Milliseconds candidateLifetime{120000};
    // Forward between peers with sessions here when they ask.
    bool relayForOthers = true;
    // The datagrams of one poll or flush leave together, and arrive many at a
    // time, where the system allows it; off: one system call per datagram.
    bool batchDatagrams = true;
};

// How a peer is reached now, for a person to see.
struct PeerPathInfo {
    bool connected = false;
    bool relayed = false;
    std::optional<Endpoint> endpoint; // the peer's, or the relay's when relayed
    PeerId relay = 0;
    std::optional<std::chrono::microseconds> roundTrip;
};

// Reflexive addresses a core keeps in its route: where peers see its
// datagrams come from. One per reporting peer, the lobby's own peers first,
// then the newest; a few at most, so no peer can fill the route.
struct ReflexiveBudget {
    static constexpr std::size_t maxEntries = 4;
    static constexpr Milliseconds lifetime{60000};
};

// What a peer that is not a lobby member may cost: it may only speak on the
// internal control channel, in messages of a few hundred bytes, with a few
// KiB held, until its deadline (the peer time-out); and only so many at once.
// All newcomers together hold at most maxNewcomers * (newcomerHeldBytes +
// the fixed state of a peer with its sessions, under 4 KiB).
// The slots cannot be held against anyone: when they are all taken, the
// oldest newcomer gives way to the new one, and one source (an IPv4 address
// or an IPv6 /64) holds at most maxPerSource of them, its own oldest giving
// way; so strangers that keep renewing their handshakes only push each other
// out, and a member proving itself in a few round trips gets in. Newcomers
// still in their handshake (whose sources may be spoofed) give way among
// themselves once maxWaiting of them wait, else those that finished do.
struct NewcomerBudget {
    static constexpr std::size_t maxNewcomers = 16;
    static constexpr std::size_t maxPerSource = 4;
    static constexpr std::size_t maxWaiting = maxNewcomers / 2;
    static constexpr std::size_t messageBytes = 512;
    static constexpr std::size_t heldBytes = 4096;
};

// Who may connect without being opened: nobody, a member (no budget), or a
// newcomer that has yet to prove itself (the newcomer budget).
enum class KeyAccess { refused, member, newcomer };

enum class TransportStatus {
    ok,
    unknownPeer,
    peerExists,
    invalidRoute,
    unknownChannel,
    channelExists,
    tooLarge,
    queueFull,
    notConnected,
    sendFailed,
};

// Who opened a peer: the program through the network manager, the lobby
// layer for its host, or both. A peer stays open while anyone keeps it.
enum class PeerUse : std::uint8_t { program = 1, lobby = 2 };

class TransportEvents {
public:
    virtual ~TransportEvents() = default;
    virtual void onMessage(PeerId peer, Channel channel, std::span<const std::uint8_t> bytes) = 0;
    virtual void onPeerConnected(PeerId) {}
    // Silent past the time-out, closed by the other end, or never answered.
    virtual void onPeerLost(PeerId) {}
    virtual void onRouteChanged(const std::string& route) = 0;
};

class Transport {
public:
    // Throws std::runtime_error when the socket cannot be had.
    explicit Transport(TransportSettings settings);
    // Tells every connected peer at once that this end is going.
    ~Transport();
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    PeerId peerId() const { return ownPeerId; }
    const PublicKey& publicKey() const { return keys.publicKey; }
    const std::string& route() const { return ownRoute; }
    std::uint16_t port() const { return socket.port(); }
    // The public address and port the home router forwards to this socket
    // (port mapping): first in the route, so invitations carry it.
    // confirmed: a peer saw this core's datagrams come from that address.
    void setMappedEndpoint(std::optional<Endpoint> endpoint, bool confirmed = false);
    bool mappedEndpointConfirmed() const { return mappedEndpoint && mappingConfirmed; }
    bool hasMappedEndpoint() const { return mappedEndpoint.has_value(); }
    // Calls f with each address where peers see this core's datagrams come
    // from (reflexive addresses); allocates nothing.
    template <typename F> void forEachObserved(F f) const {
        for (const auto& entry : reflexive)
            f(entry.endpoint);
    }

    // Opening a peer that exists (let in by the key filter, or opened by the
    // other user) takes it over with the new route; opening it twice for the
    // same use answers peerExists.
    TransportStatus openPeer(PeerId peer, std::string_view route, PeerUse use = PeerUse::program);
    TransportStatus updatePeer(PeerId peer, std::string_view route);
    // Drops one use; the peer goes when none is left.
    TransportStatus closePeer(PeerId peer, PeerUse use = PeerUse::program);
    // The peer goes whoever uses it (a member the lobby no longer lists):
    // no more data from it, no more initiations to it.
    void forgetPeer(PeerId peer);
    TransportStatus openChannel(PeerId peer, Channel channel, Reliability reliability);
    TransportStatus closeChannel(PeerId peer, Channel channel);
    TransportStatus send(PeerId peer, Channel channel, std::span<const std::uint8_t> message);
    void flush();
    void poll(TransportEvents& events);
    // For a caller that sleeps between polls: readable when a datagram waits,
    // and the time when poll next has work of its own (keep-alives,
    // retransmissions, handshakes, time-outs, the route); none: no timer.
    os::Handle waitDescriptor() const { return socket.waitDescriptor(); }
    std::optional<TimePoint> nextDeadline() const;

    // Keys that may connect without being opened as a peer (the lobby's
    // members and newcomers); opened peers' keys are always accepted.
    void setKeyFilter(std::function<KeyAccess(const PublicKey&)> filter) {
        keyFilter = std::move(filter);
    }
    // A newcomer proved itself: the newcomer budget no longer applies.
    void admitPeer(PeerId peer);

    // Newcomers now, and the bytes their channels hold.
    std::size_t newcomerCount() const;
    std::size_t newcomerHeldBytes() const;

    bool isConnected(PeerId peer) const;
    bool isOpenedBy(PeerId peer, PeerUse use) const;
    // The static key a peer proved (or was opened with).
    std::optional<PublicKey> keyOf(PeerId peer) const;
    std::optional<PeerPathInfo> pathOf(PeerId peer) const;
    // Bytes a reliable channel holds for the peer that it has not yet
    // acknowledged: how far behind the peer is.
    std::size_t queuedBytes(PeerId peer, Channel channel) const;

private:
    struct Reflexive {
        PeerId reporter = 0;
        Endpoint endpoint;
        TimePoint firstSeen{};
        TimePoint lastSeen{};
        bool lobby = false; // reported by a peer the lobby opened: its host
    };

    struct LocalMessage {
        Channel channel;
        std::vector<std::uint8_t> bytes;
    };

    Peer* find(PeerId peer) const;
    Peer& addPeer(PeerId id, const PublicKey& key, bool opened);
    void removePeer(Peer& peer);
    // The program's channels of a peer it had before its member left.
    void restoreChannels(Peer& peer);
    void setNewcomer(Peer& peer, bool newcomer);
    void dropExpiredNewcomers(TimePoint now, TransportEvents& events);
    // Before a newcomer from this source is let in: the oldest of its own
    // newcomers, or of all, gives way when they hold their share.
    void makeRoomForNewcomer(const SourceKey& source, TransportEvents& events);
    void dropNewcomer(PeerId id, TransportEvents& events);
    std::uint32_t newIndex(Peer& peer);
    void releaseIndex(std::uint32_t index);
    void dropSessions(Peer& peer);
    void startOver(Peer& peer, TransportEvents* events);
    void markLost(Peer& peer, TransportEvents* events);
    void markConnected(Peer& peer, TransportEvents& events);
    void addSession(Peer& peer, std::unique_ptr<Session> session);
    std::uint64_t nextTimestamp();

    // Paths (TransportPaths.cpp).
    // A path is broken when silent this long: never before three keep-alives
    // could have come.
    Milliseconds pathSilence() const {
        return std::max(settings.pathSilence, 3 * settings.keepAliveInterval);
    }
    std::optional<Path> pathTo(const Peer& peer) const;
    Peer* directPeerAt(const Endpoint& from) const;
    void takePath(Peer& peer, const Path& source);
    // A direct address that answered a challenge: the path moves there unless
    // the direct path in use still works.
    void takeProvenPath(Peer& peer, const Endpoint& at);
    // An authenticated datagram on a direct path: keeps the path alive, takes
    // the address it came from when proven (the first datagram of a session
    // from where our response went), or asks that address to prove itself.
    void noteDirect(Peer& peer, bool proven, const Path& source);
    void handleRelayRequest(std::span<const std::uint8_t> datagram, const Endpoint& from);
    void handleRelayed(std::span<const std::uint8_t> datagram, const Endpoint& from,
                       TransportEvents& events);
    void sendThroughRelays(Peer& peer, std::span<const std::uint8_t> datagram);
    void probe(Peer& peer, TimePoint now);
    void answerProbe(Peer& peer, const Frame& frame, const Path& source);
    void takeProbeAnswer(Peer& peer, const Frame& frame, const Path& source);
    bool trustedReporter(const Peer& reporter) const;
    void learnReflexive(const Peer& reporter, const Endpoint& seen);
    void rebuildRoute(TimePoint now);
    // The announced IPv4 addresses, or this machine's IPv4 and global IPv6 ones.
    std::vector<Endpoint> localEndpoints() const;

    // Candidates and challenges (TransportCandidates.cpp).
    bool onLoopback() const;
    void setCandidates(Peer& peer, const std::vector<Endpoint>& endpoints);
    // Whether this candidate is asked now: its turn has come, it is not given
    // up, and the peer's unproven budget has a datagram left.
    bool takeTurn(Peer& peer, Candidate& candidate, TimePoint now);
    bool spendUnproven(Peer& peer, TimePoint now);
    bool isPathEndpoint(const Peer& peer, const Endpoint& endpoint) const;
    void markAnswered(Peer& peer, const Endpoint& endpoint);
    // A probe with a fresh token on that path; off the path in use it costs
    // the unproven budget, unless the caller paid already (a candidate's turn).
    void challenge(Peer& peer, const Path& path, TimePoint now, bool paid = false);
    bool hasRelayFor(const Peer& peer) const;
    // When the peer has someone to ask next: its path or relay, or a candidate.
    std::optional<TimePoint> nextAsk(const Peer& peer) const;

    // Sending (TransportSend.cpp).
    // Inside poll, flush and an unreliable send, datagrams wait in the
    // socket's queue and leave together when the call ends.
    // Nested calls (a send from an event inside poll) keep the outer hold.
    class HeldDatagrams {
    public:
        explicit HeldDatagrams(Transport& transport)
            : transport(transport), outer(transport.holding) {
            transport.holding = true;
        }
        ~HeldDatagrams() { transport.holding = outer; }
        HeldDatagrams(const HeldDatagrams&) = delete;
        HeldDatagrams& operator=(const HeldDatagrams&) = delete;

    private:
        Transport& transport;
        bool outer;
    };
    bool emit(const Endpoint& to, std::span<const std::uint8_t> bytes);
    bool sendTo(const Path& path, std::span<const std::uint8_t> bytes);
    bool sendFrame(Peer& peer, const Frame& frame);
    bool sendFrameOn(Peer& peer, const Frame& frame, const Path& path);
    void sendInitiation(Peer& peer, TimePoint now);
    void sendReliable(Peer& peer, TimePoint now);
    void sendAcknowledgements(Peer& peer);

    // Receiving (TransportReceive.cpp).
    void receiveDatagrams(TransportEvents& events);
    void handleDatagram(std::span<const std::uint8_t> datagram, const Endpoint& from,
                        TransportEvents& events);
    void handlePeerDatagram(std::span<const std::uint8_t> datagram, const Path& source,
                            TransportEvents& events);
    void handleInitiation(std::span<const std::uint8_t> datagram, const Path& source,
                          TransportEvents& events);
    bool initiationPassesChecks(std::span<const std::uint8_t> datagram, const Path& source);
    void handleResponse(std::span<const std::uint8_t> datagram, const Path& source,
                        TransportEvents& events);
    void handleCookieReply(std::span<const std::uint8_t> datagram, const Path& source);
    void handleData(std::span<const std::uint8_t> datagram, const Path& source,
                    TransportEvents& events);
    void handleFrame(Peer& peer, const Frame& frame, const Path& source, TransportEvents& events);
    void deliverLocal(TransportEvents& events);

    // Timers (TransportTimers.cpp).
    void refreshRoute(TimePoint now, TransportEvents& events);
    void service(Peer& peer, TimePoint now, TransportEvents& events);
    std::optional<TimePoint> nextDeadline(const Peer& peer) const;

    TransportSettings settings;
    os::UdpSocket socket;
    KeyPair keys;
    PeerId ownPeerId;
    std::uint8_t ciphers;
    std::vector<Endpoint> ownEndpoints; // this machine's, at the socket's port
    std::optional<Endpoint> mappedEndpoint;
    bool mappingConfirmed = false;
    std::vector<Reflexive> reflexive;
    std::string ownRoute;
    std::string reportedRoute;
    TimePoint lastRouteCheck{};
    TimePoint pollTime{}; // when the latest poll began: the clock of liveness
    std::uint64_t lastTimestamp = 0;
    std::map<PeerId, std::unique_ptr<Peer>> peers;
    std::map<std::uint32_t, PeerId> indices;
    std::deque<LocalMessage> localMessages;
    std::size_t localBytes = 0;
    std::function<KeyAccess(const PublicKey&)> keyFilter;
    static constexpr std::size_t maxForgotten = 64;
    std::map<PeerId, std::vector<std::pair<Channel, Reliability>>> forgottenChannels;
    CookieChecker cookies;
    InitiationLimiter initiationLimiter;
    bool holding = false;
    os::ReceivedBatch received{maxDatagramSize + 1};
    std::vector<std::uint8_t> plaintext;
    std::vector<std::uint8_t> datagram;
    std::vector<std::uint8_t> relayDatagram;
};

} // namespace sdk::transport
