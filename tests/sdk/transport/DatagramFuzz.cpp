#include "sdk/transport/Handshake.h"
#include "sdk/transport/ReliableChannel.h"
#include "sdk/transport/Wire.h"

#include <sodium.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>

using namespace sdk::transport;

namespace {
// Fixed keys, so that runs repeat.
KeyPair fixedKeys(std::uint8_t seed) {
    KeyPair keys;
    std::uint8_t seedBytes[crypto_kx_SEEDBYTES] = {seed};
    crypto_kx_seed_keypair(keys.publicKey.data(), keys.secretKey.data(), seedBytes);
    return keys;
}
} // namespace

// Every datagram decoder (relay datagrams included) and the reliable
// channel's state under arbitrary bytes: nothing may crash, and a datagram or
// frame (probes and their answers included) that decodes encodes back to itself.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const KeyPair local = fixedKeys(1);
    static const KeyPair remote = fixedKeys(2);
    static const PendingInitiation pending = [] {
        return makeInitiation(local, remote.publicKey, 77, 1, 1, 3).pending;
    }();
    static ReliableReceiver receiver;
    static ReliableSender sender(maxReliablePart);
    static RoundTrip roundTrip;

    const std::span<const std::uint8_t> datagram(data, size);
    switch (datagramTypeOf(datagram).value_or(DatagramType{0})) {
    case DatagramType::initiation:
        if (const auto initiation = decodeInitiation(datagram)) {
            // The fields; the three MACs after them are made by the handshake.
            auto encoded = encodeInitiation(*initiation);
            if (!std::equal(encoded.begin(), encoded.begin() + initiationMacOffset, data))
                std::abort();
        }
        verifyInitiation(local, datagram);
        break;
    case DatagramType::response:
        if (const auto response = decodeResponse(datagram)) {
            auto encoded = encodeResponse(*response);
            if (!std::equal(encoded.begin(), encoded.end() - macSize, data))
                std::abort();
        }
        acceptResponse(local, remote.publicKey, pending, datagram);
        break;
    case DatagramType::data:
        decodeDataHeader(datagram);
        break;
    case DatagramType::relayRequest:
    case DatagramType::relayed:
        if (const auto relay = decodeRelay(datagram)) {
            // The header and the inner datagram make up the whole, unchanged.
            std::vector<std::uint8_t> encoded(relayHeaderSize);
            encodeRelayHeader(relay->type, relay->peer, encoded.data());
            encoded.insert(encoded.end(), relay->inner.begin(), relay->inner.end());
            if (encoded != std::vector<std::uint8_t>(data, data + size) || relay->peer == 0 ||
                relay->inner.data() != data + relayHeaderSize)
                std::abort();
        }
        break;
    default:
        break;
    }

    const auto frame = decodeFrame(datagram);
    if (!frame)
        return 0;
    std::vector<std::uint8_t> encoded(maxFrameSize);
    encoded.resize(encodeFrame(*frame, encoded.data()));
    if (encoded != std::vector<std::uint8_t>(data, data + size))
        std::abort();
    switch (frame->kind) {
    case FrameKind::reliablePart:
    case FrameKind::reliableEnd:
        receiver.receive(frame->sequence, frame->kind == FrameKind::reliableEnd, frame->payload,
                         [](std::span<const std::uint8_t> message) {
                             if (message.size() > maxReliableMessage)
                                 std::abort();
                         });
        break;
    case FrameKind::acknowledgement:
        if (sender.idle())
            sender.push(std::vector<std::uint8_t>(5000, 1));
        sender.sendDue(TimePoint{}, roundTrip, [](const OutgoingPart&) {});
        sender.acknowledge(frame->sequence, frame->receivedAfter, TimePoint{}, roundTrip);
        break;
    default:
        break;
    }
    return 0;
}
