#pragma once

// The lobby of one core, with no server: either this core hosts it (holds
// the member list, admits members, sends every change to every member) or it
// is a member of another core's lobby (learns the list and every change from
// the host). One lobby per core at a time.
//
// It reaches the other cores only through the transport's internal control
// channel and decides with the transport's key filter which keys may connect:
// a lobby's members, and on the host also newcomers who have yet to prove the
// lobby's key (a few at a time). It starts no thread; the core calls it from
// runCallbacks, and it reports through LobbyEvents, which the core queues.

#include "interfaces/DiscordSdk.h"
#include "sdk/lobby/LobbyMessages.h"
#include "sdk/lobby/UpdateRate.h"
#include "sdk/transport/Transport.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sdk::lobby {

class LobbyEvents {
public:
    virtual ~LobbyEvents() = default;
    virtual void memberConnected(std::int64_t lobbyId, std::int64_t userId) = 0;
    virtual void memberUpdated(std::int64_t lobbyId, std::int64_t userId) = 0;
    virtual void memberDisconnected(std::int64_t lobbyId, std::int64_t userId) = 0;
    virtual void lobbyDeleted(std::int64_t lobbyId) = 0;
};

// The host's account of what a member has been sent: its own update held
// back by the rate, and since when it is behind (its control backlog was too
// long to take a message, so it waits for the whole lobby state).
struct MemberFlow {
    UpdateRate rate;
    bool updatePending = false;
    std::optional<transport::TimePoint> behindSince;
};

struct LobbyMember {
    LobbyMember(MemberRecord record, transport::PeerId peer)
        : record(std::move(record)), peer(peer) {}

    MemberRecord record;
    transport::PeerId peer = 0;
    MemberFlow flow; // the host's only
};

class LobbySession {
public:
    using ConnectDone = std::function<void(DiscordResultCode, const LobbySettings&)>;

    // Newcomers a host lets in at once to prove the key.
    static constexpr std::size_t maxCandidates = 16;
    // What the host lets wait unacknowledged for one member on the control
    // channel. A message that would pass it is not queued: the member is
    // behind, gets the whole lobby state once its backlog is gone, and is
    // removed if that takes longer than the time-out.
    static constexpr std::size_t maxMemberBacklog = 512 * 1024;

    // ownUserName: this core's user's name, cleaned (UserName.h) before the
    // lobby carries it. timeout: how long a connection or an admission may take.
    LobbySession(transport::Transport& transport, LobbyEvents& events, std::int64_t ownUserId,
                 std::string_view ownUserName, transport::Milliseconds timeout);
    ~LobbySession();
    LobbySession(const LobbySession&) = delete;
    LobbySession& operator=(const LobbySession&) = delete;

    // Hosting: the lobby exists at once, with this core as its only member.
    // Lobbies are never locked: a lobby admits while it has room.
    DiscordResultCode create(std::int32_t type, std::uint32_t capacity, LobbySettings& lobby);
    // Joining: done is called exactly once, from this call (a secret that
    // cannot be used) or later from onControlMessage, onPeerLost or tick.
    void connect(std::string_view secret, ConnectDone done);

    // Queries for the lobby with this id, if it is this core's and live.
    const LobbySettings* lobby(std::int64_t lobbyId) const;
    std::string activitySecret(std::int64_t lobbyId) const;
    // No allocation: the engine reads these for every packet it sends.
    const std::vector<LobbyMember>* members(std::int64_t lobbyId) const;
    const LobbyMember* member(std::int64_t lobbyId, std::int64_t userId) const;
    // The lobby this core hosts, if any.
    std::optional<std::int64_t> hostedLobby() const;
    // The lobby this core hosts or belongs to, if any.
    std::optional<std::int64_t> currentLobby() const;

    // The host applies a change at once and sends it to every member; a
    // member sends it to the host and applies it when the host sends it back.
    DiscordResultCode updateMember(std::int64_t lobbyId, std::int64_t userId,
                                   const std::vector<MetadataChange>& changes);

    // From the transport.
    void onControlMessage(transport::PeerId peer, std::span<const std::uint8_t> bytes);
    void onPeerConnected(transport::PeerId peer);
    void onPeerLost(transport::PeerId peer);
    void tick(transport::TimePoint now);
    // When tick has work next; none while nothing waits for a time.
    std::optional<transport::TimePoint> nextDeadline() const;
    transport::KeyAccess acceptsKey(const transport::PublicKey& key) const;
    bool isMemberPeer(transport::PeerId peer) const;
    // Whether the program may open or update this peer at this route: in a
    // lobby only a current member's, at a route with that member's key that
    // no other member published in its stead (PeerMembership.cpp).
    DiscordResultCode peerRouteCheck(transport::PeerId peer, std::string_view route) const;

private:
    enum class Role { none, host, joining, member };

    struct Candidate {
        transport::PeerId peer = 0;
        std::int64_t userId = 0;
        std::string name;
        Nonce memberNonce{};
        Nonce hostNonce{};
        transport::TimePoint deadline{};
        transport::TimePoint since{};
        bool challenged = false;
        bool refused = false;
    };

    struct Joining {
        JoinSecret secret;
        std::string text;
        transport::PeerId hostPeer = 0;
        Nonce memberNonce{};
        transport::TimePoint deadline{};
        ConnectDone done;
    };

    // Common (LobbySession.cpp).
    LobbyMember* findMember(std::int64_t userId);
    LobbyMember* findMemberByPeer(transport::PeerId peer);
    void send(transport::PeerId peer, const LobbyMessage& message);
    // Peers are closed in tick, after the transport's poll: the transport may
    // be inside a loop over its peers when it tells us about one.
    void closeLater(transport::PeerId peer);
    // A member that left: its peer goes for the program too, so that no core
    // serves a member the host no longer lists.
    void forgetLater(transport::PeerId peer);
    void leaveLobby();

    // Hosting (LobbyHosting.cpp).
    void hostReceive(transport::PeerId peer, LobbyMessage& message);
    void hostJoinRequest(transport::PeerId peer, const JoinRequest& request);
    void hostProof(transport::PeerId peer, const AdmissionProof& proof);
    void hostMetadataUpdate(LobbyMember& member, const MetadataUpdate& update);
    void hostAdmit(const Candidate& candidate, const transport::PublicKey& key);
    // Every member hears of it, the removed one included; forget: its peer
    // goes for every use (not when the same core takes its place again).
    void hostRemoveMember(std::int64_t userId, bool forget = true);
    void hostRefuse(Candidate& candidate, RefusalReason reason);
    void broadcast(const LobbyMessage& message, transport::PeerId except);
    // Queues bytes for a member unless that would pass its backlog bound.
    void sendToMember(LobbyMember& member, std::span<const std::uint8_t> bytes);
    // Sends a member's held-back update if its rate allows it now.
    void hostSpreadUpdate(LobbyMember& member, transport::TimePoint now);
    // Held-back updates and members that are behind.
    void hostTick(transport::TimePoint now);
    Candidate* findCandidate(transport::PeerId peer);
    void dropOldestCandidate();

    // Joining and membership (LobbyJoining.cpp).
    void joinReceive(LobbyMessage& message);
    void memberReceive(LobbyMessage& message);
    void finishJoining(DiscordResultCode result, const LobbySettings& lobby);
    bool welcomeFits(const Welcome& welcome) const;
    void memberTakeState(LobbyState& state);

    transport::Transport& transport;
    LobbyEvents& events;
    std::int64_t ownUserId;
    std::string ownUserName;
    transport::Milliseconds timeout;

    Role role = Role::none;
    LobbySettings lobbyRecord;
    std::vector<LobbyMember> memberList;
    LobbyKey key{};                    // host
    std::vector<Candidate> candidates; // host
    std::optional<Joining> joining;    // joining
    transport::PeerId hostPeer = 0;    // member
    std::string joinedWith;            // member: the secret it joined with
    std::vector<transport::PeerId> closing;
    std::vector<transport::PeerId> forgetting;
};

} // namespace sdk::lobby
