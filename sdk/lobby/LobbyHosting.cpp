#include "sdk/lobby/LobbySession.h"

#include "sdk/transport/Keys.h"

#include <algorithm>
#include <utility>

// The host's side: admission of newcomers and the spreading of every change.

namespace sdk::lobby {

namespace {
// A refused newcomer keeps its session this long, so the refusal arrives.
constexpr transport::Milliseconds refusalGrace{1000};
} // namespace

void LobbySession::hostReceive(transport::PeerId peer, LobbyMessage& message) {
    if (LobbyMember* member = findMemberByPeer(peer)) {
        if (const auto* update = std::get_if<MetadataUpdate>(&message);
            update && peer != transport.peerId())
            hostMetadataUpdate(*member, *update);
        return;
    }
    if (const auto* request = std::get_if<JoinRequest>(&message))
        hostJoinRequest(peer, *request);
    else if (const auto* proof = std::get_if<AdmissionProof>(&message))
        hostProof(peer, *proof);
}

LobbySession::Candidate* LobbySession::findCandidate(transport::PeerId peer) {
    for (auto& candidate : candidates)
        if (candidate.peer == peer)
            return &candidate;
    return nullptr;
}

void LobbySession::hostJoinRequest(transport::PeerId peer, const JoinRequest& request) {
    Candidate* candidate = findCandidate(peer);
    if (!candidate) {
        // Full: the oldest unproven candidate gives way, as the transport's
        // newcomers do, so that held places cannot keep a member out.
        if (candidates.size() >= maxCandidates)
            dropOldestCandidate();
        Candidate fresh;
        fresh.peer = peer;
        candidates.push_back(std::move(fresh));
        candidate = &candidates.back();
        candidate->since = transport::Clock::now();
        candidate->deadline = candidate->since + timeout;
    }
    if (candidate->refused)
        return;
    candidate->userId = request.userId;
    candidate->name = request.name;
    candidate->memberNonce = request.memberNonce;
    candidate->hostNonce = freshNonce();
    if (request.lobbyId != lobbyRecord.id) {
        hostRefuse(*candidate, RefusalReason::noSuchLobby);
        return;
    }
    candidate->challenged = true;
    send(peer, Challenge{candidate->hostNonce});
}

void LobbySession::hostProof(transport::PeerId peer, const AdmissionProof& proof) {
    Candidate* candidate = findCandidate(peer);
    if (!candidate || candidate->refused || !candidate->challenged)
        return;
    const auto memberKey = transport.keyOf(peer);
    if (!memberKey)
        return;
    const AdmissionTranscript transcript{lobbyRecord.id,       transport.publicKey(),
                                         *memberKey,           candidate->memberNonce,
                                         candidate->hostNonce, candidate->userId};
    if (!verifyAdmission(key, transcript, proof.proof)) {
        hostRefuse(*candidate, RefusalReason::wrongProof);
        return;
    }
    // A user is in a lobby once, and its user id belongs to its core's key
    // while it is present: the host's own user cannot join again, and another
    // core presenting a present member's id is refused. The same core
    // proving the key again takes its old place.
    if (candidate->userId == ownUserId) {
        hostRefuse(*candidate, RefusalReason::notExpected);
        return;
    }
    if (const LobbyMember* present = findMember(candidate->userId)) {
        if (present->record.key != *memberKey) {
            hostRefuse(*candidate, RefusalReason::notExpected);
            return;
        }
        hostRemoveMember(candidate->userId, false);
    }
    if (memberList.size() >= lobbyRecord.capacity) {
        hostRefuse(*candidate, RefusalReason::lobbyFull);
        return;
    }
    const Candidate admitted = *candidate;
    std::erase_if(candidates, [&](const Candidate& c) { return c.peer == peer; });
    hostAdmit(admitted, *memberKey);
}

void LobbySession::hostAdmit(const Candidate& candidate, const transport::PublicKey& key) {
    memberList.push_back(
        LobbyMember{MemberRecord{candidate.userId, key, candidate.name, {}}, candidate.peer});
    transport.admitPeer(candidate.peer);
    Welcome welcome{lobbyRecord, {}};
    for (const auto& member : memberList)
        welcome.members.push_back(member.record);
    send(candidate.peer, welcome);
    broadcast(MemberJoined{candidate.userId, key, candidate.name}, candidate.peer);
    events.memberConnected(lobbyRecord.id, candidate.userId);
}

// Applied at once; spread at the member's rate, merged with what follows
// while the rate holds it back. A change to nothing new is not spread.
void LobbySession::hostMetadataUpdate(LobbyMember& member, const MetadataUpdate& update) {
    auto updated = applyChanges(member.record.metadata, update.changes);
    if (!updated || *updated == member.record.metadata)
        return;
    member.record.metadata = std::move(*updated);
    member.flow.updatePending = true;
    hostSpreadUpdate(member, transport::Clock::now());
}

void LobbySession::hostSpreadUpdate(LobbyMember& member, transport::TimePoint now) {
    if (!member.flow.updatePending || !member.flow.rate.take(now))
        return;
    member.flow.updatePending = false;
    const auto userId = member.record.userId;
    broadcast(MemberUpdated{userId, member.record.metadata}, transport.peerId());
    events.memberUpdated(lobbyRecord.id, userId);
}

// A member behind gets the whole lobby once it has taken everything queued
// before (the channel keeps order, so the state comes after it all); one
// that stays behind past the time-out cannot follow the lobby and goes.
void LobbySession::hostTick(transport::TimePoint now) {
    for (std::size_t i = 0; i < memberList.size(); ++i)
        hostSpreadUpdate(memberList[i], now);
    std::vector<std::int64_t> removed;
    for (auto& member : memberList) {
        if (!member.flow.behindSince)
            continue;
        if (transport.queuedBytes(member.peer, transport::Channel::control()) == 0) {
            LobbyState state{lobbyRecord, {}};
            for (const auto& each : memberList)
                state.members.push_back(each.record);
            member.flow.behindSince.reset();
            sendToMember(member, encodeLobbyMessage(state));
        } else if (now - *member.flow.behindSince > timeout) {
            removed.push_back(member.record.userId);
        }
    }
    for (const auto userId : removed)
        hostRemoveMember(userId);
}

void LobbySession::hostRemoveMember(std::int64_t userId, bool forget) {
    const LobbyMember* member = findMember(userId);
    if (!member)
        return;
    const auto peer = member->peer;
    if (forget)
        broadcast(MemberLeft{userId}, transport.peerId());
    std::erase_if(memberList, [&](const LobbyMember& m) { return m.record.userId == userId; });
    if (forget) {
        forgetLater(peer);
    } else {
        // The same core is admitted again at once: only the others hear it left.
        broadcast(MemberLeft{userId}, peer);
    }
    events.memberDisconnected(lobbyRecord.id, userId);
}

void LobbySession::dropOldestCandidate() {
    const auto oldest =
        std::min_element(candidates.begin(), candidates.end(),
                         [](const Candidate& a, const Candidate& b) { return a.since < b.since; });
    const auto peer = oldest->peer;
    candidates.erase(oldest);
    if (!findMemberByPeer(peer))
        closeLater(peer);
}

void LobbySession::hostRefuse(Candidate& candidate, RefusalReason reason) {
    send(candidate.peer, Refusal{reason});
    candidate.refused = true;
    candidate.deadline = transport::Clock::now() + refusalGrace;
}

// To every member but the host itself and `except`.
void LobbySession::broadcast(const LobbyMessage& message, transport::PeerId except) {
    const auto bytes = encodeLobbyMessage(message);
    for (auto& member : memberList)
        if (member.peer != transport.peerId() && member.peer != except)
            sendToMember(member, bytes);
}

// A member that cannot take a message misses it and every later one until
// the whole state reaches it: it never goes on from a list with a gap.
void LobbySession::sendToMember(LobbyMember& member, std::span<const std::uint8_t> bytes) {
    if (member.flow.behindSince)
        return;
    const auto channel = transport::Channel::control();
    if (transport.queuedBytes(member.peer, channel) + bytes.size() <= maxMemberBacklog &&
        transport.send(member.peer, channel, bytes) == transport::TransportStatus::ok)
        return;
    member.flow.behindSince = transport::Clock::now();
}

} // namespace sdk::lobby
