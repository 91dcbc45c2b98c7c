#include "sdk/lobby/LobbySession.h"

#include "sdk/transport/Keys.h"
#include "sdk/transport/Route.h"

#include <sodium.h>

#include <algorithm>
#include <utility>

namespace sdk::lobby {

namespace {
std::int64_t freshLobbyId() {
    std::uint64_t value = 0;
    while (value == 0) {
        randombytes_buf(&value, sizeof value);
        value &= 0x7fffffffffffffffULL;
    }
    return static_cast<std::int64_t>(value);
}
} // namespace

LobbySession::LobbySession(transport::Transport& transport, LobbyEvents& events,
                           std::int64_t ownUserId, transport::Milliseconds timeout)
    : transport_(transport), events_(events), ownUserId_(ownUserId), timeout_(timeout) {
    transport_.setKeyFilter([this](const transport::PublicKey& key) { return acceptsKey(key); });
}

LobbySession::~LobbySession() {
    transport_.setKeyFilter(nullptr);
}

DiscordResultCode LobbySession::create(std::int32_t type, std::uint32_t capacity,
                                       LobbySettings& lobby) {
    if (role_ != Role::none)
        return DiscordResult_AlreadyExists;
    if (capacity == 0 || capacity > maxLobbyCapacity ||
        (type != DiscordLobbyType_Private && type != DiscordLobbyType_Public))
        return DiscordResult_InvalidArgument;
    role_ = Role::host;
    lobby_ = LobbySettings{freshLobbyId(), type, ownUserId_, capacity, false};
    key_ = freshLobbyKey();
    members_.clear();
    members_.reserve(maxLobbyCapacity);
    members_.push_back(
        LobbyMember{MemberRecord{ownUserId_, transport_.publicKey(), {}}, transport_.peerId()});
    lobby = lobby_;
    return DiscordResult_Ok;
}

const LobbySettings* LobbySession::lobby(std::int64_t lobbyId) const {
    const bool live = role_ == Role::host || role_ == Role::member;
    return live && lobbyId == lobby_.id ? &lobby_ : nullptr;
}

std::string LobbySession::activitySecret(std::int64_t lobbyId) const {
    if (!lobby(lobbyId))
        return {};
    if (role_ == Role::member)
        return joinedWith_;
    // Made afresh from the current route, so it names where this core is now.
    JoinSecret secret{lobby_.id, key_, transport_.publicKey(), {}};
    if (const auto route = transport::parseRoute(transport_.route()))
        secret.endpoints = route->endpoints;
    return formatJoinSecret(secret);
}

const std::vector<LobbyMember>* LobbySession::members(std::int64_t lobbyId) const {
    return lobby(lobbyId) ? &members_ : nullptr;
}

const LobbyMember* LobbySession::member(std::int64_t lobbyId, std::int64_t userId) const {
    if (!lobby(lobbyId))
        return nullptr;
    for (const auto& member : members_)
        if (member.record.userId == userId)
            return &member;
    return nullptr;
}

std::optional<std::int64_t> LobbySession::hostedLobby() const {
    if (role_ != Role::host)
        return std::nullopt;
    return lobby_.id;
}

DiscordResultCode LobbySession::updateMember(std::int64_t lobbyId, std::int64_t userId,
                                             const std::vector<MetadataChange>& changes) {
    if (!lobby(lobbyId))
        return DiscordResult_NotFound;
    LobbyMember* target = findMember(userId);
    if (!target)
        return DiscordResult_NotFound;
    // A member speaks for itself only; the host may edit anyone.
    if (role_ == Role::member && userId != ownUserId_)
        return DiscordResult_InvalidArgument;
    auto updated = applyChanges(target->record.metadata, changes);
    if (!updated)
        return DiscordResult_InvalidArgument;
    if (role_ == Role::member) {
        send(hostPeer_, MetadataUpdate{changes});
        return DiscordResult_Ok;
    }
    target->record.metadata = std::move(*updated);
    broadcast(MemberUpdated{userId, target->record.metadata}, transport_.peerId());
    events_.memberUpdated(lobby_.id, userId);
    return DiscordResult_Ok;
}

void LobbySession::onControlMessage(transport::PeerId peer, std::span<const std::uint8_t> bytes) {
    auto message = decodeLobbyMessage(bytes);
    if (!message)
        return;
    switch (role_) {
    case Role::host:
        hostReceive(peer, *message);
        break;
    case Role::joining:
        if (peer == joining_->hostPeer)
            joinReceive(*message);
        break;
    case Role::member:
        if (peer == hostPeer_)
            memberReceive(*message);
        break;
    case Role::none:
        break;
    }
}

// On the host, a key that is neither a member nor the program's peer came in
// through the filter to prove the lobby key: it has the time-out to do so, and
// only so many may try at once.
void LobbySession::onPeerConnected(transport::PeerId peer) {
    if (role_ != Role::host || peer == transport_.peerId() || findMemberByPeer(peer) ||
        findCandidate(peer) || transport_.isOpenedBy(peer, transport::PeerUse::program))
        return;
    if (candidates_.size() >= maxCandidates) {
        closeLater(peer);
        return;
    }
    Candidate candidate;
    candidate.peer = peer;
    candidate.deadline = transport::Clock::now() + timeout_;
    candidates_.push_back(candidate);
}

void LobbySession::onPeerLost(transport::PeerId peer) {
    switch (role_) {
    case Role::host:
        if (LobbyMember* member = findMemberByPeer(peer); member && peer != transport_.peerId()) {
            hostRemoveMember(member->record.userId);
        } else if (findCandidate(peer)) {
            std::erase_if(candidates_, [&](const Candidate& c) { return c.peer == peer; });
            closeLater(peer);
        }
        break;
    case Role::joining:
        if (peer == joining_->hostPeer)
            finishJoining(DiscordResult_NetworkError, {});
        break;
    case Role::member:
        if (peer == hostPeer_) {
            const auto id = lobby_.id;
            leaveLobby();
            events_.lobbyDeleted(id);
        }
        break;
    case Role::none:
        break;
    }
}

void LobbySession::tick(transport::TimePoint now) {
    if (role_ == Role::joining && now >= joining_->deadline)
        finishJoining(DiscordResult_NetworkError, {});
    for (auto it = candidates_.begin(); it != candidates_.end();) {
        if (now >= it->deadline) {
            const auto peer = it->peer;
            it = candidates_.erase(it);
            if (!findMemberByPeer(peer))
                closeLater(peer);
        } else {
            ++it;
        }
    }
    for (const auto peer : std::exchange(closing_, {}))
        transport_.closePeer(peer, transport::PeerUse::lobby);
}

void LobbySession::closeLater(transport::PeerId peer) {
    if (peer != transport_.peerId())
        closing_.push_back(peer);
}

bool LobbySession::acceptsKey(const transport::PublicKey& key) const {
    if (role_ != Role::host && role_ != Role::member)
        return false;
    for (const auto& member : members_)
        if (member.record.key == key)
            return true;
    return role_ == Role::host && candidates_.size() < maxCandidates;
}

bool LobbySession::isMemberPeer(transport::PeerId peer) const {
    if (role_ != Role::host && role_ != Role::member)
        return false;
    for (const auto& member : members_)
        if (member.peer == peer)
            return true;
    return false;
}

LobbyMember* LobbySession::findMember(std::int64_t userId) {
    for (auto& member : members_)
        if (member.record.userId == userId)
            return &member;
    return nullptr;
}

LobbyMember* LobbySession::findMemberByPeer(transport::PeerId peer) {
    for (auto& member : members_)
        if (member.peer == peer)
            return &member;
    return nullptr;
}

void LobbySession::send(transport::PeerId peer, const LobbyMessage& message) {
    const auto bytes = encodeLobbyMessage(message);
    transport_.send(peer, transport::Channel::control(), bytes);
}

// Forgets the lobby; the program's own peers stay as the program left them.
void LobbySession::leaveLobby() {
    if (role_ == Role::member)
        closeLater(hostPeer_);
    for (const auto& candidate : candidates_)
        closeLater(candidate.peer);
    role_ = Role::none;
    lobby_ = {};
    members_.clear();
    candidates_.clear();
    joining_.reset();
    hostPeer_ = 0;
    joinedWith_.clear();
    sodium_memzero(key_.data(), key_.size());
}

} // namespace sdk::lobby
