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
                           std::int64_t ownUserId, std::string_view ownUserName,
                           transport::Milliseconds timeout)
    : transport(transport), events(events), ownUserId(ownUserId),
      ownUserName(cleanUserName(ownUserName, ownUserId)), timeout(timeout) {
    transport.setKeyFilter([this](const transport::PublicKey& key) { return acceptsKey(key); });
}

LobbySession::~LobbySession() {
    transport.setKeyFilter(nullptr);
}

DiscordResultCode LobbySession::create(std::int32_t type, std::uint32_t capacity,
                                       LobbySettings& lobby) {
    if (role != Role::none)
        return DiscordResult_AlreadyExists;
    if (capacity == 0 || capacity > maxLobbyCapacity ||
        (type != DiscordLobbyType_Private && type != DiscordLobbyType_Public))
        return DiscordResult_InvalidArgument;
    role = Role::host;
    lobbyRecord = LobbySettings{freshLobbyId(), type, ownUserId, capacity, false};
    key = freshLobbyKey();
    memberList.clear();
    memberList.reserve(maxLobbyCapacity);
    memberList.push_back(LobbyMember{
        MemberRecord{ownUserId, transport.publicKey(), ownUserName, {}}, transport.peerId()});
    lobby = lobbyRecord;
    return DiscordResult_Ok;
}

const LobbySettings* LobbySession::lobby(std::int64_t lobbyId) const {
    const bool live = role == Role::host || role == Role::member;
    return live && lobbyId == lobbyRecord.id ? &lobbyRecord : nullptr;
}

std::string LobbySession::activitySecret(std::int64_t lobbyId) const {
    if (!lobby(lobbyId))
        return {};
    if (role == Role::member)
        return joinedWith;
    // Made afresh from the current route, so it names where this core is now.
    JoinSecret secret{lobbyRecord.id, key, transport.publicKey(), {}};
    if (const auto route = transport::parseRoute(transport.route()))
        secret.endpoints = route->endpoints;
    // Beside an IPv6 endpoint a secret has room for one IPv4 one. While no
    // peer has confirmed the mapped endpoint it may be wrong, so it does not
    // take the place of this core's other IPv4 endpoints: IPv4 ones only.
    if (transport.hasMappedEndpoint() && !transport.mappedEndpointConfirmed())
        std::erase_if(secret.endpoints,
                      [](const transport::Endpoint& endpoint) { return !endpoint.isIpv4(); });
    return formatJoinSecret(secret);
}

const std::vector<LobbyMember>* LobbySession::members(std::int64_t lobbyId) const {
    return lobby(lobbyId) ? &memberList : nullptr;
}

const LobbyMember* LobbySession::member(std::int64_t lobbyId, std::int64_t userId) const {
    if (!lobby(lobbyId))
        return nullptr;
    for (const auto& member : memberList)
        if (member.record.userId == userId)
            return &member;
    return nullptr;
}

std::optional<std::int64_t> LobbySession::hostedLobby() const {
    if (role != Role::host)
        return std::nullopt;
    return lobbyRecord.id;
}

std::optional<std::int64_t> LobbySession::currentLobby() const {
    if (role != Role::host && role != Role::member)
        return std::nullopt;
    return lobbyRecord.id;
}

DiscordResultCode LobbySession::updateMember(std::int64_t lobbyId, std::int64_t userId,
                                             const std::vector<MetadataChange>& changes) {
    if (!lobby(lobbyId))
        return DiscordResult_NotFound;
    LobbyMember* target = findMember(userId);
    if (!target)
        return DiscordResult_NotFound;
    // A member speaks for itself only; the host may edit anyone.
    if (role == Role::member && userId != ownUserId)
        return DiscordResult_InvalidArgument;
    auto updated = applyChanges(target->record.metadata, changes);
    if (!updated)
        return DiscordResult_InvalidArgument;
    if (role == Role::member) {
        send(hostPeer, MetadataUpdate{changes});
        return DiscordResult_Ok;
    }
    if (*updated == target->record.metadata)
        return DiscordResult_Ok; // nothing new to spread
    target->record.metadata = std::move(*updated);
    target->flow.updatePending = false; // this carries any held-back one too
    broadcast(MemberUpdated{userId, target->record.metadata}, transport.peerId());
    events.memberUpdated(lobbyRecord.id, userId);
    return DiscordResult_Ok;
}

void LobbySession::onControlMessage(transport::PeerId peer, std::span<const std::uint8_t> bytes) {
    auto message = decodeLobbyMessage(bytes);
    if (!message)
        return;
    switch (role) {
    case Role::host:
        hostReceive(peer, *message);
        break;
    case Role::joining:
        if (peer == joining->hostPeer)
            joinReceive(*message);
        break;
    case Role::member:
        if (peer == hostPeer)
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
    if (role != Role::host || peer == transport.peerId() || findMemberByPeer(peer) ||
        findCandidate(peer) || transport.isOpenedBy(peer, transport::PeerUse::program))
        return;
    if (candidates.size() >= maxCandidates) {
        closeLater(peer);
        return;
    }
    Candidate candidate;
    candidate.peer = peer;
    candidate.deadline = transport::Clock::now() + timeout;
    candidates.push_back(candidate);
}

void LobbySession::onPeerLost(transport::PeerId peer) {
    switch (role) {
    case Role::host:
        if (LobbyMember* member = findMemberByPeer(peer); member && peer != transport.peerId()) {
            hostRemoveMember(member->record.userId);
        } else if (findCandidate(peer)) {
            std::erase_if(candidates, [&](const Candidate& c) { return c.peer == peer; });
            closeLater(peer);
        }
        break;
    case Role::joining:
        if (peer == joining->hostPeer)
            finishJoining(DiscordResult_NetworkError, {});
        break;
    case Role::member:
        if (peer == hostPeer) {
            const auto id = lobbyRecord.id;
            leaveLobby();
            events.lobbyDeleted(id);
        }
        break;
    case Role::none:
        break;
    }
}

void LobbySession::tick(transport::TimePoint now) {
    if (role == Role::joining && now >= joining->deadline)
        finishJoining(DiscordResult_NetworkError, {});
    if (role == Role::host)
        hostTick(now);
    for (auto it = candidates.begin(); it != candidates.end();) {
        if (now >= it->deadline) {
            const auto peer = it->peer;
            it = candidates.erase(it);
            if (!findMemberByPeer(peer))
                closeLater(peer);
        } else {
            ++it;
        }
    }
    for (const auto peer : std::exchange(closing, {}))
        transport.closePeer(peer, transport::PeerUse::lobby);
    for (const auto peer : std::exchange(forgetting, {}))
        if (!isMemberPeer(peer))
            transport.forgetPeer(peer);
}

std::optional<transport::TimePoint> LobbySession::nextDeadline() const {
    if (!closing.empty() || !forgetting.empty())
        return transport::TimePoint::min();
    std::optional<transport::TimePoint> earliest;
    if (role == Role::joining)
        earliest = joining->deadline;
    for (const auto& candidate : candidates)
        if (!earliest || candidate.deadline < *earliest)
            earliest = candidate.deadline;
    const auto consider = [&](transport::TimePoint due) {
        if (!earliest || due < *earliest)
            earliest = due;
    };
    if (role == Role::host)
        for (const auto& member : memberList) {
            if (member.flow.updatePending)
                consider(member.flow.rate.nextAt());
            // Its acknowledgements wake the core; the time-out is the latest.
            if (member.flow.behindSince)
                consider(*member.flow.behindSince + timeout);
        }
    return earliest;
}

void LobbySession::closeLater(transport::PeerId peer) {
    if (peer != transport.peerId())
        closing.push_back(peer);
}

void LobbySession::forgetLater(transport::PeerId peer) {
    if (peer != transport.peerId())
        forgetting.push_back(peer);
}

transport::KeyAccess LobbySession::acceptsKey(const transport::PublicKey& key) const {
    if (role != Role::host && role != Role::member)
        return transport::KeyAccess::refused;
    for (const auto& member : memberList)
        if (member.record.key == key)
            return transport::KeyAccess::member;
    // The transport bounds the newcomers, the oldest giving way to a new one:
    // candidates that hold their places cannot shut a member out here.
    return role == Role::host ? transport::KeyAccess::newcomer : transport::KeyAccess::refused;
}

bool LobbySession::isMemberPeer(transport::PeerId peer) const {
    if (role != Role::host && role != Role::member)
        return false;
    for (const auto& member : memberList)
        if (member.peer == peer)
            return true;
    return false;
}

LobbyMember* LobbySession::findMember(std::int64_t userId) {
    for (auto& member : memberList)
        if (member.record.userId == userId)
            return &member;
    return nullptr;
}

LobbyMember* LobbySession::findMemberByPeer(transport::PeerId peer) {
    for (auto& member : memberList)
        if (member.peer == peer)
            return &member;
    return nullptr;
}

void LobbySession::send(transport::PeerId peer, const LobbyMessage& message) {
    const auto bytes = encodeLobbyMessage(message);
    transport.send(peer, transport::Channel::control(), bytes);
}

// Forgets the lobby, and with it its members' peers: nobody in it is a
// member of a lobby this core is in any more.
void LobbySession::leaveLobby() {
    if (role == Role::member)
        closeLater(hostPeer);
    for (const auto& member : memberList)
        forgetLater(member.peer);
    for (const auto& candidate : candidates)
        closeLater(candidate.peer);
    role = Role::none;
    lobbyRecord = {};
    memberList.clear();
    candidates.clear();
    joining.reset();
    hostPeer = 0;
    joinedWith.clear();
    sodium_memzero(key.data(), key.size());
}

} // namespace sdk::lobby
