#include "sdk/transport/Transport.h"

#include <cstring>

namespace sdk::transport {

bool Transport::emit(const Endpoint& to, std::span<const std::uint8_t> bytes) {
    return holding ? socket.queue(to, bytes) : socket.sendTo(to, bytes);
}

// Through a relay the datagram goes behind a relay request's header; every
// peer datagram leaves room for it (maxPeerDatagramSize).
bool Transport::sendTo(const Path& path, std::span<const std::uint8_t> bytes) {
    if (path.direct())
        return emit(path.endpoint, bytes);
    if (bytes.size() > maxPeerDatagramSize)
        return false;
    encodeRelayHeader(DatagramType::relayRequest, path.far, relayDatagram.data());
    std::memcpy(relayDatagram.data() + relayHeaderSize, bytes.data(), bytes.size());
    return emit(path.endpoint, std::span(relayDatagram).first(relayHeaderSize + bytes.size()));
}

bool Transport::sendFrame(Peer& peer, const Frame& frame) {
    const auto path = pathTo(peer);
    return path && sendFrameOn(peer, frame, *path);
}

bool Transport::sendFrameOn(Peer& peer, const Frame& frame, const Path& path) {
    Session* session = peer.current();
    if (!session)
        return false;
    // The frame is written where its ciphertext goes and sealed in place.
    std::uint8_t* body = datagram.data() + dataHeaderSize;
    const std::size_t frameSize = encodeFrame(frame, body);
    const DataHeader header{session->remoteIndex, session->nextCounter++};
    encodeDataHeader(header, datagram.data());
    session->sender.seal(header.counter, std::span(datagram).first(dataHeaderSize),
                         std::span(body, frameSize), body);
    peer.lastSent = pollTime;
    return sendTo(path, std::span(datagram).first(dataHeaderSize + frameSize + aeadTagSize));
}

// A fresh initiation to the path in use and to every candidate whose turn
// has come, at once (simultaneous open: the other side does the same, and
// each side's datagrams open its own router for the other's), and through
// the relays once a direct path is overdue or broke. The other end answers
// the first copy it gets (the rest are replays), so the fastest path answers;
// a response proves the address only when it comes from one we asked.
void Transport::sendInitiation(Peer& peer, TimePoint now) {
    peer.handshakeSentAt = now; // the time of asking, even when nobody is due
    std::vector<Endpoint> targets;
    if (peer.endpoint && peer.relayedBy == 0)
        targets.push_back(*peer.endpoint);
    for (auto& candidate : peer.candidates)
        if (takeTurn(peer, candidate, now))
            targets.push_back(candidate.endpoint);
    const bool relays =
        (peer.connected || now - peer.openedAt >= settings.relayAfter) && hasRelayFor(peer);
    if (targets.empty() && !relays)
        return; // the pending handshake stays: a late answer to it still counts
    if (peer.handshake)
        releaseIndex(peer.handshake->localIndex);
    // A cookie is good for two minutes at the other end; a little less here.
    if (peer.cookie && now - peer.cookieReceivedAt >= std::chrono::seconds(110))
        peer.cookie.reset();
    auto initiation = makeInitiation(keys, peer.key, newIndex(peer), nextTimestamp(),
                                     peer.incarnation, ciphers, peer.cookie);
    peer.handshake = initiation.pending;
    peer.sentInitiation = initiation.datagram;
    peer.initiationSentTo = targets;
    for (const auto& endpoint : targets)
        emit(endpoint, initiation.datagram);
    if (relays)
        sendThroughRelays(peer, initiation.datagram);
}

void Transport::sendReliable(Peer& peer, TimePoint now) {
    for (auto& [key, channel] : peer.channels) {
        if (channel.sender.idle())
            continue;
        const Channel id{static_cast<std::uint8_t>(key & 0xff), (key & 0x100) != 0};
        const bool resent =
            channel.sender.sendDue(now, peer.roundTrip, [&](const OutgoingPart& part) {
                sendFrame(peer, Frame{part.last ? FrameKind::reliableEnd : FrameKind::reliablePart,
                                      id,
                                      part.sequence,
                                      0,
                                      part.bytes,
                                      0,
                                      {}});
            });
        if (resent)
            peer.roundTrip.backOff();
    }
}

void Transport::sendAcknowledgements(Peer& peer) {
    for (auto& [key, channel] : peer.channels) {
        if (!channel.acknowledgementDue)
            continue;
        const Channel id{static_cast<std::uint8_t>(key & 0xff), (key & 0x100) != 0};
        if (sendFrame(peer, Frame{FrameKind::acknowledgement,
                                  id,
                                  channel.receiver.nextExpected(),
                                  channel.receiver.receivedAfter(),
                                  {},
                                  0,
                                  {}}))
            channel.acknowledgementDue = false;
    }
}

} // namespace sdk::transport
