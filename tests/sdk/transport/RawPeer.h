#pragma once

// A peer made of the transport's own pieces, on loopback: a stranger who
// read the host's key in an invitation, or a member that lies. It handshakes
// over its own socket and then sends whatever frames or raw datagrams it likes.

#include "tests/sdk/transport/TransportTestSupport.h"

#include "sdk/transport/Handshake.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace transporttest {

class RawPeer {
public:
    // source: the loopback address it sends from, another one for another source.
    explicit RawPeer(const Transport& host, std::uint32_t source = INADDR_LOOPBACK)
        : RawPeer(host.publicKey(), endpointOf(host), source) {}
    RawPeer(const PublicKey& hostKey, const Endpoint& hostEndpoint,
            std::uint32_t source = INADDR_LOOPBACK)
        : hostKey(hostKey), hostEndpoint(hostEndpoint), socket(source) {}

    bool handshake(TransportNode& host,
                   std::chrono::milliseconds limit = testsupport::defaultPumpLimit) {
        initiate();
        pumpUntil(
            {&host}, [&] { return finish(); }, limit);
        return sender != nullptr;
    }

    // The handshake's end once the host answered the initiation: true when
    // done, after a first data frame that tells the host so.
    bool finish() {
        if (sender)
            return true;
        if (!pending)
            return false;
        while (const auto answer = socket.receive()) {
            const auto accepted = acceptResponse(keys, hostKey, *pending, *answer);
            if (!accepted)
                continue;
            remoteIndex = accepted->response.senderIndex;
            sender = std::make_unique<PacketCipher>(accepted->cipher, accepted->keys.send);
            receiver = std::make_unique<PacketCipher>(accepted->cipher, accepted->keys.receive);
            send(Frame{FrameKind::keepAlive, {}, 0, 0, {}, 0, {}});
            return true;
        }
        return false;
    }

    // Only the first message of a handshake, never finished: what a stranger,
    // spoofing its source or not, can send without an answer.
    void initiate() {
        auto initiation = makeInitiation(keys, hostKey, 1, 1, 1,
                                         static_cast<std::uint8_t>(Cipher::chacha20Poly1305));
        socket.sendTo(hostEndpoint, initiation.datagram);
        pending = initiation.pending;
    }

    void send(const Frame& frame) {
        std::vector<std::uint8_t> datagram(maxDatagramSize);
        const std::size_t size = encodeFrame(frame, datagram.data() + dataHeaderSize);
        const DataHeader header{remoteIndex, counter++};
        encodeDataHeader(header, datagram.data());
        sender->seal(header.counter, std::span(datagram).first(dataHeaderSize),
                     std::span(datagram).subspan(dataHeaderSize, size),
                     datagram.data() + dataHeaderSize);
        socket.sendTo(hostEndpoint, std::span(datagram).first(dataHeaderSize + size + aeadTagSize));
    }

    // The highest next-expected sequence the host acknowledged on a channel.
    std::optional<std::uint32_t> acknowledged(Channel channel) {
        for (const auto& frame : receiveFrames())
            if (frame.kind == FrameKind::acknowledgement && frame.channel == channel)
                highest = std::max(highest.value_or(0), frame.sequence);
        return highest;
    }

    // What the host sent that opens with the session's keys, as frames
    // without their payloads (the kind, channel, sequence, token, observed).
    std::vector<Frame> receiveFrames() {
        std::vector<Frame> frames;
        while (const auto datagram = socket.receive()) {
            const auto header = decodeDataHeader(*datagram);
            if (!header)
                continue;
            std::vector<std::uint8_t> plain(datagram->size());
            const auto sealed = std::span(*datagram).subspan(dataHeaderSize);
            if (!receiver->open(header->counter, std::span(*datagram).first(dataHeaderSize), sealed,
                                plain.data()))
                continue;
            if (auto frame = decodeFrame(std::span(plain).first(sealed.size() - aeadTagSize))) {
                frame->payload = {};
                frames.push_back(*frame);
            }
        }
        return frames;
    }

    void sendRaw(std::span<const std::uint8_t> bytes) { socket.sendTo(hostEndpoint, bytes); }
    std::optional<std::vector<std::uint8_t>> receiveRaw() { return socket.receive(); }
    PeerId id() const { return peerIdOf(keys.publicKey); }
    Endpoint endpoint() const { return socket.endpoint(); }

    KeyPair keys = KeyPair::generate();

private:
    PublicKey hostKey;
    Endpoint hostEndpoint;
    RawSocket socket;
    std::optional<PendingInitiation> pending;
    std::uint32_t remoteIndex = 0;
    std::uint64_t counter = 0;
    std::unique_ptr<PacketCipher> sender;
    std::unique_ptr<PacketCipher> receiver;
    std::optional<std::uint32_t> highest;
};

} // namespace transporttest
