#include "sdk/transport/Transport.h"

#include <algorithm>

namespace sdk::transport {

namespace {
// Enough for a burst, short enough that a flood cannot hold the caller.
constexpr std::size_t maxDatagramsPerPoll = 4096;
} // namespace

void Transport::receiveDatagrams(TransportEvents& events) {
    for (std::size_t taken = 0; taken < maxDatagramsPerPoll;) {
        const std::size_t count = socket.receiveBatch(received);
        if (count == 0)
            break;
        taken += count;
        for (std::size_t i = 0; i < count; ++i)
            if (const auto bytes = received.datagram(i); bytes.size() <= maxDatagramSize)
                handleDatagram(bytes, received.source(i), events);
    }
    for (auto& [id, peer] : peers)
        if (!peer->local && peer->current())
            sendAcknowledgements(*peer);
}

void Transport::handleDatagram(std::span<const std::uint8_t> datagram, const Endpoint& from,
                               TransportEvents& events) {
    switch (datagramTypeOf(datagram).value_or(DatagramType{0})) {
    case DatagramType::relayRequest:
        handleRelayRequest(datagram, from);
        break;
    case DatagramType::relayed:
        handleRelayed(datagram, from, events);
        break;
    default:
        handlePeerDatagram(datagram, Path{from, 0, 0}, events);
        break;
    }
}

void Transport::handlePeerDatagram(std::span<const std::uint8_t> datagram, const Path& source,
                                   TransportEvents& events) {
    switch (datagramTypeOf(datagram).value_or(DatagramType{0})) {
    case DatagramType::initiation:
        handleInitiation(datagram, source, events);
        break;
    case DatagramType::response:
        handleResponse(datagram, source, events);
        break;
    case DatagramType::data:
        handleData(datagram, source, events);
        break;
    case DatagramType::cookieReply:
        handleCookieReply(datagram, source);
        break;
    default:
        break; // not ours: no answer
    }
}

// Everything before the public-key work: mac1, and under load a cookie for
// the source address and the source's rate; then this poll's exchange budget.
bool Transport::initiationPassesChecks(std::span<const std::uint8_t> datagram, const Path& source) {
    const Endpoint& from = source.endpoint;
    if (!cookies.mac1Valid(datagram))
        return false;
    const TimePoint now = pollTime;
    if (initiationLimiter.countAndCheckLoad(now)) {
        if (!initiationLimiter.allowSource(from, now))
            return false;
        if (!cookies.mac2Valid(datagram, from, now)) {
            sendTo(source, cookies.reply(datagram, from, now));
            return false;
        }
    }
    return initiationLimiter.takeExchange();
}

void Transport::handleInitiation(std::span<const std::uint8_t> datagram, const Path& source,
                                 TransportEvents& events) {
    if (!initiationPassesChecks(datagram, source))
        return;
    const auto verified = verifyInitiation(keys, datagram);
    if (!verified)
        return;
    const Initiation& initiation = verified->initiation;
    const PeerId id = peerIdOf(initiation.staticKey);
    if (!source.direct() && source.far != id)
        return; // a relay may carry a peer's initiation, not make one up
    Peer* peer = find(id);
    if (peer && peer->key != initiation.staticKey)
        return;
    if (!peer) {
        const KeyAccess access = keyFilter ? keyFilter(initiation.staticKey) : KeyAccess::refused;
        if (access == KeyAccess::refused)
            return; // a key this core does not accept
        const SourceKey from = sourceKeyOf(source.endpoint);
        if (access == KeyAccess::newcomer)
            makeRoomForNewcomer(from, events);
        peer = &addPeer(id, initiation.staticKey, false);
        setNewcomer(*peer, access == KeyAccess::newcomer);
        peer->newcomerSource = from;
    }
    if (initiation.timestamp <= peer->lastInitiationTimestamp)
        return; // replayed
    peer->lastInitiationTimestamp = initiation.timestamp;
    if (peer->remoteIncarnation != 0 && peer->remoteIncarnation != initiation.incarnation)
        startOver(*peer, &events);
    peer->remoteIncarnation = initiation.incarnation;

    const std::uint32_t index = newIndex(*peer);
    auto response = makeResponse(keys, initiation, index, peer->incarnation, ciphers);
    if (!response) {
        releaseIndex(index);
        return;
    }
    auto session =
        std::make_unique<Session>(index, initiation.senderIndex, response->cipher, response->keys);
    if (source.direct())
        session->respondedTo = source.endpoint;
    addSession(*peer, std::move(session));
    sendTo(source, response->datagram);
}

void Transport::handleResponse(std::span<const std::uint8_t> datagram, const Path& source,
                               TransportEvents& events) {
    const auto response = decodeResponse(datagram);
    if (!response)
        return;
    const auto owner = indices.find(response->receiverIndex);
    if (owner == indices.end())
        return;
    Peer* peer = find(owner->second);
    if (!peer || !peer->handshake || peer->handshake->localIndex != response->receiverIndex ||
        (!source.direct() && source.far != peer->id))
        return;
    const auto accepted = acceptResponse(keys, peer->key, *peer->handshake, datagram);
    if (!accepted)
        return;
    if (peer->remoteIncarnation != 0 && peer->remoteIncarnation != response->incarnation)
        startOver(*peer, &events);
    peer->remoteIncarnation = response->incarnation;

    auto session = std::make_unique<Session>(peer->handshake->localIndex, response->senderIndex,
                                             accepted->cipher, accepted->keys);
    session->confirmed = true;
    session->confirmedAt = Clock::now();
    peer->handshake.reset(); // its index lives on in the session
    addSession(*peer, std::move(session));
    const bool asked =
        source.direct() && std::find(peer->initiationSentTo.begin(), peer->initiationSentTo.end(),
                                     source.endpoint) != peer->initiationSentTo.end();
    if (!source.direct())
        takePath(*peer, source);
    else if (asked)
        takeProvenPath(*peer, source.endpoint);
    else
        challenge(*peer, source, pollTime); // it answered from elsewhere: prove that address first
    peer->lastReceived = pollTime;
    markConnected(*peer, events);
    // The responder confirms the session at our first datagram: send one now.
    const std::uint64_t sentBefore = peer->current()->nextCounter;
    sendReliable(*peer, Clock::now());
    if (peer->current()->nextCounter == sentBefore)
        sendFrame(*peer, Frame{FrameKind::keepAlive, {}, 0, 0, {}, 0, {}});
}

// The peer we asked is under load: the next initiation carries its cookie.
void Transport::handleCookieReply(std::span<const std::uint8_t> datagram, const Path& source) {
    const auto reply = decodeCookieReply(datagram);
    if (!reply)
        return;
    const auto owner = indices.find(reply->receiverIndex);
    if (owner == indices.end())
        return;
    Peer* peer = find(owner->second);
    if (!peer || !peer->handshake || peer->handshake->localIndex != reply->receiverIndex ||
        (!source.direct() && source.far != peer->id))
        return;
    if (auto cookie = openCookieReply(peer->key, peer->sentInitiation, datagram)) {
        peer->cookie = *cookie;
        peer->cookieReceivedAt = Clock::now();
    }
}

void Transport::handleData(std::span<const std::uint8_t> datagram, const Path& source,
                           TransportEvents& events) {
    const auto header = decodeDataHeader(datagram);
    if (!header)
        return;
    const auto owner = indices.find(header->receiverIndex);
    if (owner == indices.end())
        return;
    Peer* peer = find(owner->second);
    Session* session = peer ? peer->sessionByIndex(header->receiverIndex) : nullptr;
    if (!session || (!source.direct() && source.far != peer->id) ||
        !session->replay.isFresh(header->counter))
        return;
    const auto sealed = datagram.subspan(dataHeaderSize);
    if (!session->receiver.open(header->counter, datagram.first(dataHeaderSize), sealed,
                                plaintext.data()))
        return;
    session->replay.accept(header->counter);
    const auto frame = decodeFrame(std::span(plaintext).first(sealed.size() - aeadTagSize));
    if (!frame)
        return;
    // The first datagram of a session we answered, from where the answer
    // went, proves that address; a challenge may go out in the session.
    const bool answeredHere =
        !session->confirmed && source.direct() && session->respondedTo == source.endpoint;
    if (!session->confirmed) {
        session->confirmed = true;
        session->confirmedAt = Clock::now();
    }
    // Roaming: an authenticated datagram from elsewhere moves the peer there
    // only once that address answers a challenge.
    if (source.direct())
        noteDirect(*peer, answeredHere, source);
    else
        takePath(*peer, source);
    peer->lastReceived = pollTime;
    if (frame->kind == FrameKind::close) {
        markLost(*peer, &events);
        return;
    }
    markConnected(*peer, events);
    handleFrame(*peer, *frame, source, events);
}

void Transport::handleFrame(Peer& peer, const Frame& frame, const Path& source,
                            TransportEvents& events) {
    switch (frame.kind) {
    case FrameKind::keepAlive:
    case FrameKind::close:
        return;
    case FrameKind::probe:
        answerProbe(peer, frame, source);
        return;
    case FrameKind::probeAnswer:
        takeProbeAnswer(peer, frame, source);
        return;
    case FrameKind::unreliable:
        if (!peer.newcomer)
            events.onMessage(peer.id, frame.channel, frame.payload);
        return;
    case FrameKind::reliablePart:
    case FrameKind::reliableEnd: {
        // A newcomer has the control channel only, which exists: no other
        // channel is made for it.
        if (peer.newcomer && frame.channel != Channel::control())
            return;
        auto& channel = peer.channels[frame.channel.key()];
        channel.reliability = Reliability::reliable;
        channel.acknowledgementDue = true;
        channel.receiver.receive(frame.sequence, frame.kind == FrameKind::reliableEnd,
                                 frame.payload, [&](std::span<const std::uint8_t> message) {
                                     events.onMessage(peer.id, frame.channel, message);
                                 });
        return;
    }
    case FrameKind::acknowledgement: {
        const auto found = peer.channels.find(frame.channel.key());
        if (found == peer.channels.end())
            return;
        const TimePoint now = Clock::now();
        found->second.sender.acknowledge(frame.sequence, frame.receivedAfter, now, peer.roundTrip);
        found->second.sender.sendDue(now, peer.roundTrip, [&](const OutgoingPart& part) {
            sendFrame(peer, Frame{part.last ? FrameKind::reliableEnd : FrameKind::reliablePart,
                                  frame.channel,
                                  part.sequence,
                                  0,
                                  part.bytes,
                                  0,
                                  {}});
        });
        return;
    }
    }
}

void Transport::deliverLocal(TransportEvents& events) {
    if (localMessages.empty())
        return; // an empty deque still allocates: not on every poll
    // Only what was queued before this poll; what its handlers send waits.
    std::deque<LocalMessage> messages;
    messages.swap(localMessages);
    localBytes = 0;
    for (const auto& message : messages)
        events.onMessage(ownPeerId, message.channel, message.bytes);
}

} // namespace sdk::transport
