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
    if (role_ != Role::none) {
        done(DiscordResult_AlreadyExists, {});
        return;
    }
    auto secret = parseJoinSecret(text);
    if (!secret) {
        done(DiscordResult_InvalidSecret, {});
        return;
    }
    if (secret->hostKey == transport_.publicKey()) {
        done(DiscordResult_AlreadyExists, {}); // this core's own lobby
        return;
    }
    const auto hostPeer = transport::peerIdOf(secret->hostKey);
    const auto route = transport::formatRoute(transport::Route{secret->hostKey, secret->endpoints});
    const auto opened = transport_.openPeer(hostPeer, route, transport::PeerUse::lobby);
    if (opened != transport::TransportStatus::ok) {
        done(DiscordResult_InvalidSecret, {});
        return;
    }
    role_ = Role::joining;
    joining_ = Joining{std::move(*secret),
                       std::string(text),
                       hostPeer,
                       freshNonce(),
                       transport::Clock::now() + timeout_,
                       std::move(done)};
    send(hostPeer, JoinRequest{joining_->secret.lobbyId, joining_->memberNonce, ownUserId_});
}

void LobbySession::joinReceive(LobbyMessage& message) {
    if (const auto* challenge = std::get_if<Challenge>(&message)) {
        const AdmissionTranscript transcript{joining_->secret.lobbyId, joining_->secret.hostKey,
                                             transport_.publicKey(),   joining_->memberNonce,
                                             challenge->hostNonce,     ownUserId_};
        send(joining_->hostPeer,
             AdmissionProof{proveAdmission(joining_->secret.lobbyKey, transcript)});
    } else if (const auto* refusal = std::get_if<Refusal>(&message)) {
        finishJoining(resultOf(refusal->reason), {});
    } else if (auto* welcome = std::get_if<Welcome>(&message)) {
        if (!welcomeFits(*welcome)) {
            finishJoining(DiscordResult_InvalidArgument, {});
            return;
        }
        role_ = Role::member;
        hostPeer_ = joining_->hostPeer;
        joinedWith_ = std::move(joining_->text);
        lobby_ = welcome->lobby;
        members_.clear();
        members_.reserve(maxLobbyCapacity);
        for (auto& record : welcome->members) {
            const auto peer = transport::peerIdOf(record.key);
            members_.push_back(LobbyMember{std::move(record), peer});
        }
        auto done = std::move(joining_->done);
        joining_.reset();
        done(DiscordResult_Ok, lobby_);
    }
}

// A welcome names the lobby asked for, its host as owner with the key the
// secret gave, and this core with its own key and user id.
bool LobbySession::welcomeFits(const Welcome& welcome) const {
    const auto& secret = joining_->secret;
    if (welcome.lobby.id != secret.lobbyId)
        return false;
    bool hostFound = false;
    bool selfFound = false;
    for (const auto& member : welcome.members) {
        if (member.key == secret.hostKey && member.userId == welcome.lobby.ownerId)
            hostFound = true;
        if (member.key == transport_.publicKey() && member.userId == ownUserId_)
            selfFound = true;
    }
    return hostFound && selfFound;
}

void LobbySession::finishJoining(DiscordResultCode result, const LobbySettings& lobby) {
    auto done = std::move(joining_->done);
    const auto hostPeer = joining_->hostPeer;
    joining_.reset();
    role_ = Role::none;
    closeLater(hostPeer);
    done(result, lobby);
}

void LobbySession::memberReceive(LobbyMessage& message) {
    if (const auto* joined = std::get_if<MemberJoined>(&message)) {
        if (findMember(joined->userId) || members_.size() >= maxLobbyCapacity)
            return;
        members_.push_back(LobbyMember{MemberRecord{joined->userId, joined->key, {}},
                                       transport::peerIdOf(joined->key)});
        events_.memberConnected(lobby_.id, joined->userId);
    } else if (auto* updated = std::get_if<MemberUpdated>(&message)) {
        LobbyMember* member = findMember(updated->userId);
        if (!member)
            return;
        member->record.metadata = std::move(updated->metadata);
        events_.memberUpdated(lobby_.id, updated->userId);
    } else if (const auto* left = std::get_if<MemberLeft>(&message)) {
        const auto id = lobby_.id;
        if (left->userId == ownUserId_) {
            leaveLobby();
            events_.lobbyDeleted(id);
            return;
        }
        const LobbyMember* member = findMember(left->userId);
        if (!member)
            return;
        const auto peer = member->peer;
        std::erase_if(members_,
                      [&](const LobbyMember& m) { return m.record.userId == left->userId; });
        closeLater(peer);
        events_.memberDisconnected(id, left->userId);
    }
}

} // namespace sdk::lobby
