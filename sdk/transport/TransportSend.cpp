#include "sdk/transport/Transport.h"

#include <cstring>

namespace sdk::transport {

bool Transport::sendFrame(Peer& peer, const Frame& frame) {
    Session* session = peer.current();
    if (!session || !peer.endpoint)
        return false;
    // The frame is written where its ciphertext goes and sealed in place.
    std::uint8_t* body = datagram.data() + dataHeaderSize;
    const std::size_t frameSize = encodeFrame(frame, body);
    const DataHeader header{session->remoteIndex, session->nextCounter++};
    encodeDataHeader(header, datagram.data());
    session->sender.seal(header.counter, std::span(datagram).first(dataHeaderSize),
                         std::span(body, frameSize), body);
    peer.lastSent = pollTime;
    return socket.sendTo(*peer.endpoint,
                         std::span(datagram).first(dataHeaderSize + frameSize + aeadTagSize));
}

// A fresh initiation to every endpoint of the route; the first to answer
// becomes the peer's endpoint.
void Transport::sendInitiation(Peer& peer, TimePoint now) {
    if (peer.routeEndpoints.empty())
        return;
    if (peer.handshake)
        releaseIndex(peer.handshake->localIndex);
    // A cookie is good for two minutes at the other end; a little less here.
    if (peer.cookie && now - peer.cookieReceivedAt >= std::chrono::seconds(110))
        peer.cookie.reset();
    auto initiation = makeInitiation(keys, peer.key, newIndex(peer), nextTimestamp(),
                                     peer.incarnation, ciphers, peer.cookie);
    peer.handshake = initiation.pending;
    peer.sentInitiation = initiation.datagram;
    peer.handshakeSentAt = now;
    for (const auto& endpoint : peer.routeEndpoints)
        socket.sendTo(endpoint, initiation.datagram);
}

void Transport::sendReliable(Peer& peer, TimePoint now) {
    for (auto& [key, channel] : peer.channels) {
        if (channel.sender.idle())
            continue;
        const Channel id{static_cast<std::uint8_t>(key & 0xff), (key & 0x100) != 0};
        const bool resent =
            channel.sender.sendDue(now, peer.roundTrip, [&](const OutgoingPart& part) {
                sendFrame(peer, Frame{part.last ? FrameKind::reliableEnd : FrameKind::reliablePart,
                                      id, part.sequence, 0, part.bytes});
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
                                  {}}))
            channel.acknowledgementDue = false;
    }
}

} // namespace sdk::transport
