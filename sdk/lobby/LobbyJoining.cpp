#include "sdk/lobby/LobbySession.h"

#include "sdk/transport/Keys.h"
#include "sdk/transport/Route.h"

#include <algorithm>

// A member's side: connecting with a secret, proving it, and following the
// host's list afterwards.

namespace sdk::lobby {

namespace {
DiscordResultCode resultOf(RefusalReason reason) {
    switch (reason) {
    case RefusalReason::noSuchLobby:
        return DiscordResult_NotFound;
    case RefusalReason::wrongProof:
        return DiscordResult_InvalidSecret;
    case RefusalReason::lobbyFull:
        return DiscordResult_LobbyFull;
    case RefusalReason::notExpected:
        break;
    }
    return DiscordResult_InvalidArgument;
}
} // namespace

void LobbySession::connect(std::string_view text, ConnectDone done) {
    if (role != Role::none) {
        done(DiscordResult_AlreadyExists, {});
        return;
    }
    auto secret = parseJoinSecret(text);
    if (!secret) {
        done(DiscordResult_InvalidSecret, {});
        return;
    }
    if (secret->hostKey == transport.publicKey()) {
        done(DiscordResult_AlreadyExists, {}); // this core's own lobby
        return;
    }
    const auto hostPeer = transport::peerIdOf(secret->hostKey);
    const auto route = transport::formatRoute(transport::Route{secret->hostKey, secret->endpoints});
    const auto opened = transport.openPeer(hostPeer, route, transport::PeerUse::lobby);
    if (opened != transport::TransportStatus::ok) {
        done(DiscordResult_InvalidSecret, {});
        return;
    }
    role = Role::joining;
    joining = Joining{std::move(*secret),
                      std::string(text),
                      hostPeer,
                      freshNonce(),
                      transport::Clock::now() + timeout,
                      std::move(done)};
    send(hostPeer,
         JoinRequest{joining->secret.lobbyId, joining->memberNonce, ownUserId, ownUserName});
}

void LobbySession::joinReceive(LobbyMessage& message) {
    if (const auto* challenge = std::get_if<Challenge>(&message)) {
        const AdmissionTranscript transcript{joining->secret.lobbyId, joining->secret.hostKey,
                                             transport.publicKey(),   joining->memberNonce,
                                             challenge->hostNonce,    ownUserId};
        send(joining->hostPeer,
             AdmissionProof{proveAdmission(joining->secret.lobbyKey, transcript)});
    } else if (const auto* refusal = std::get_if<Refusal>(&message)) {
        finishJoining(resultOf(refusal->reason), {});
    } else if (auto* welcome = std::get_if<Welcome>(&message)) {
        if (!welcomeFits(*welcome)) {
            finishJoining(DiscordResult_InvalidArgument, {});
            return;
        }
        role = Role::member;
        hostPeer = joining->hostPeer;
        joinedWith = std::move(joining->text);
        lobbyRecord = welcome->lobby;
        memberList.clear();
        memberList.reserve(maxLobbyCapacity);
        for (auto& record : welcome->members) {
            const auto peer = transport::peerIdOf(record.key);
            memberList.push_back(LobbyMember{std::move(record), peer});
        }
        auto done = std::move(joining->done);
        joining.reset();
        done(DiscordResult_Ok, lobbyRecord);
    }
}

// A welcome names the lobby asked for, its host as owner with the key the
// secret gave, and this core with its own key and user id.
bool LobbySession::welcomeFits(const Welcome& welcome) const {
    const auto& secret = joining->secret;
    if (welcome.lobby.id != secret.lobbyId)
        return false;
    bool hostFound = false;
    bool selfFound = false;
    for (const auto& member : welcome.members) {
        if (member.key == secret.hostKey && member.userId == welcome.lobby.ownerId)
            hostFound = true;
        if (member.key == transport.publicKey() && member.userId == ownUserId)
            selfFound = true;
    }
    return hostFound && selfFound;
}

void LobbySession::finishJoining(DiscordResultCode result, const LobbySettings& lobby) {
    auto done = std::move(joining->done);
    const auto hostPeer = joining->hostPeer;
    joining.reset();
    role = Role::none;
    closeLater(hostPeer);
    done(result, lobby);
}

void LobbySession::memberReceive(LobbyMessage& message) {
    if (auto* state = std::get_if<LobbyState>(&message)) {
        memberTakeState(*state);
    } else if (const auto* joined = std::get_if<MemberJoined>(&message)) {
        if (findMember(joined->userId) || memberList.size() >= maxLobbyCapacity)
            return;
        memberList.push_back(
            LobbyMember{MemberRecord{joined->userId, joined->key, joined->name, {}},
                        transport::peerIdOf(joined->key)});
        events.memberConnected(lobbyRecord.id, joined->userId);
    } else if (auto* updated = std::get_if<MemberUpdated>(&message)) {
        LobbyMember* member = findMember(updated->userId);
        if (!member)
            return;
        member->record.metadata = std::move(updated->metadata);
        events.memberUpdated(lobbyRecord.id, updated->userId);
    } else if (const auto* left = std::get_if<MemberLeft>(&message)) {
        const auto id = lobbyRecord.id;
        if (left->userId == ownUserId) {
            leaveLobby();
            events.lobbyDeleted(id);
            return;
        }
        const LobbyMember* member = findMember(left->userId);
        if (!member)
            return;
        const auto peer = member->peer;
        std::erase_if(memberList,
                      [&](const LobbyMember& m) { return m.record.userId == left->userId; });
        forgetLater(peer);
        events.memberDisconnected(id, left->userId);
    }
}

// The whole lobby after this core missed messages: it takes the host's list
// as it is, and hears of every difference as if the messages had come. A
// state for another lobby, or without the host, is not the host's word.
void LobbySession::memberTakeState(LobbyState& state) {
    if (state.lobby.id != lobbyRecord.id || state.lobby.ownerId != lobbyRecord.ownerId)
        return;
    const auto named = [&](std::int64_t userId) -> const MemberRecord* {
        for (const auto& record : state.members)
            if (record.userId == userId)
                return &record;
        return nullptr;
    };
    const MemberRecord* owner = named(lobbyRecord.ownerId);
    if (!owner || transport::peerIdOf(owner->key) != hostPeer)
        return;
    const auto id = lobbyRecord.id;
    if (const MemberRecord* self = named(ownUserId); !self || self->key != transport.publicKey()) {
        leaveLobby(); // removed while it was behind
        events.lobbyDeleted(id);
        return;
    }
    std::vector<std::int64_t> gone;
    for (const auto& member : memberList) {
        const MemberRecord* now = named(member.record.userId);
        if (!now || now->key != member.record.key) {
            gone.push_back(member.record.userId);
            forgetLater(member.peer);
        }
    }
    std::vector<LobbyMember> list;
    list.reserve(maxLobbyCapacity);
    std::vector<std::int64_t> joined;
    std::vector<std::int64_t> updated;
    for (auto& record : state.members) {
        const LobbyMember* before = findMember(record.userId);
        if (!before || before->record.key != record.key)
            joined.push_back(record.userId);
        else if (before->record.metadata != record.metadata)
            updated.push_back(record.userId);
        const auto peer = transport::peerIdOf(record.key);
        list.push_back(LobbyMember{std::move(record), peer});
    }
    memberList = std::move(list);
    lobbyRecord = state.lobby;
    for (const auto userId : gone)
        events.memberDisconnected(id, userId);
    for (const auto userId : joined)
        events.memberConnected(id, userId);
    for (const auto userId : updated)
        events.memberUpdated(id, userId);
}

} // namespace sdk::lobby
