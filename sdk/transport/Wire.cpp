#include "sdk/transport/Wire.h"

#include <algorithm>
#include <cstring>

namespace sdk::transport {

void putUint32(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void putUint64(std::uint8_t* out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t getUint32(const std::uint8_t* in) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | in[i];
    return value;
}

std::uint64_t getUint64(const std::uint8_t* in) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | in[i];
    return value;
}

std::vector<std::uint8_t> encodeInitiation(const Initiation& value) {
    std::vector<std::uint8_t> out(initiationSize, 0);
    out[0] = static_cast<std::uint8_t>(DatagramType::initiation);
    out[1] = protocolVersion;
    putUint32(&out[4], value.senderIndex);
    std::copy(value.staticKey.begin(), value.staticKey.end(), &out[8]);
    std::copy(value.ephemeralKey.begin(), value.ephemeralKey.end(), &out[40]);
    putUint64(&out[72], value.timestamp);
    putUint64(&out[80], value.incarnation);
    out[88] = value.ciphers;
    return out;
}

std::vector<std::uint8_t> encodeResponse(const Response& value) {
    std::vector<std::uint8_t> out(responseSize, 0);
    out[0] = static_cast<std::uint8_t>(DatagramType::response);
    putUint32(&out[4], value.senderIndex);
    putUint32(&out[8], value.receiverIndex);
    std::copy(value.ephemeralKey.begin(), value.ephemeralKey.end(), &out[12]);
    putUint64(&out[44], value.incarnation);
    out[52] = value.cipher;
    return out;
}

void encodeDataHeader(const DataHeader& value, std::uint8_t* out) {
    out[0] = static_cast<std::uint8_t>(DatagramType::data);
    putUint32(out + 1, value.receiverIndex);
    putUint64(out + 5, value.counter);
}

std::optional<DatagramType> datagramTypeOf(std::span<const std::uint8_t> datagram) {
    if (datagram.empty())
        return std::nullopt;
    switch (datagram[0]) {
    case 1:
        return DatagramType::initiation;
    case 2:
        return DatagramType::response;
    case 3:
        return DatagramType::data;
    case 4:
        return DatagramType::cookieReply;
    case 5:
        return DatagramType::relayRequest;
    case 6:
        return DatagramType::relayed;
    default:
        return std::nullopt;
    }
}

namespace {
bool hasZeroPadding(std::span<const std::uint8_t> datagram) {
    return datagram[1] == 0 && datagram[2] == 0 && datagram[3] == 0;
}
} // namespace

std::optional<Initiation> decodeInitiation(std::span<const std::uint8_t> datagram) {
    if (datagram.size() != initiationSize || datagramTypeOf(datagram) != DatagramType::initiation ||
        datagram[1] != protocolVersion || datagram[2] != 0 || datagram[3] != 0)
        return std::nullopt;
    Initiation value;
    value.senderIndex = getUint32(&datagram[4]);
    std::copy_n(&datagram[8], 32, value.staticKey.begin());
    std::copy_n(&datagram[40], 32, value.ephemeralKey.begin());
    value.timestamp = getUint64(&datagram[72]);
    value.incarnation = getUint64(&datagram[80]);
    value.ciphers = datagram[88];
    return value;
}

std::optional<Response> decodeResponse(std::span<const std::uint8_t> datagram) {
    if (datagram.size() != responseSize || datagramTypeOf(datagram) != DatagramType::response ||
        !hasZeroPadding(datagram))
        return std::nullopt;
    Response value;
    value.senderIndex = getUint32(&datagram[4]);
    value.receiverIndex = getUint32(&datagram[8]);
    std::copy_n(&datagram[12], 32, value.ephemeralKey.begin());
    value.incarnation = getUint64(&datagram[44]);
    value.cipher = datagram[52];
    return value;
}

std::vector<std::uint8_t> encodeCookieReply(const CookieReply& value) {
    std::vector<std::uint8_t> out(cookieReplySize, 0);
    out[0] = static_cast<std::uint8_t>(DatagramType::cookieReply);
    putUint32(&out[4], value.receiverIndex);
    std::copy(value.nonce.begin(), value.nonce.end(), &out[8]);
    std::copy(value.sealedCookie.begin(), value.sealedCookie.end(), &out[8 + cookieNonceSize]);
    return out;
}

std::optional<CookieReply> decodeCookieReply(std::span<const std::uint8_t> datagram) {
    if (datagram.size() != cookieReplySize ||
        datagramTypeOf(datagram) != DatagramType::cookieReply || !hasZeroPadding(datagram))
        return std::nullopt;
    CookieReply value;
    value.receiverIndex = getUint32(&datagram[4]);
    std::copy_n(&datagram[8], cookieNonceSize, value.nonce.begin());
    std::copy_n(&datagram[8 + cookieNonceSize], value.sealedCookie.size(),
                value.sealedCookie.begin());
    return value;
}

std::optional<DataHeader> decodeDataHeader(std::span<const std::uint8_t> datagram) {
    // The smallest data datagram carries a one-byte frame.
    if (datagram.size() < dataOverhead + 1 || datagram.size() > maxPeerDatagramSize ||
        datagramTypeOf(datagram) != DatagramType::data)
        return std::nullopt;
    return DataHeader{getUint32(&datagram[1]), getUint64(&datagram[5])};
}

std::optional<RelayHeader> decodeRelay(std::span<const std::uint8_t> datagram) {
    const auto type = datagramTypeOf(datagram);
    if (datagram.size() <= relayHeaderSize || datagram.size() > maxDatagramSize ||
        (type != DatagramType::relayRequest && type != DatagramType::relayed))
        return std::nullopt;
    RelayHeader value{*type, getUint64(&datagram[1]), datagram.subspan(relayHeaderSize)};
    const auto inner = datagramTypeOf(value.inner);
    if (value.peer == 0 || !inner || *inner == DatagramType::relayRequest ||
        *inner == DatagramType::relayed)
        return std::nullopt;
    return value;
}

void encodeRelayHeader(DatagramType type, PeerId peer, std::uint8_t* out) {
    out[0] = static_cast<std::uint8_t>(type);
    putUint64(out + 1, peer);
}

std::size_t encodeFrame(const Frame& frame, std::uint8_t* out) {
    out[0] = static_cast<std::uint8_t>(static_cast<std::uint8_t>(frame.kind) |
                                       (frame.channel.internal ? 0x80 : 0));
    switch (frame.kind) {
    case FrameKind::keepAlive:
    case FrameKind::close:
        return 1;
    case FrameKind::unreliable:
        out[1] = frame.channel.id;
        if (!frame.payload.empty())
            std::memcpy(out + 2, frame.payload.data(), frame.payload.size());
        return 2 + frame.payload.size();
    case FrameKind::reliablePart:
    case FrameKind::reliableEnd:
        out[1] = frame.channel.id;
        putUint32(out + 2, frame.sequence);
        if (!frame.payload.empty())
            std::memcpy(out + 6, frame.payload.data(), frame.payload.size());
        return 6 + frame.payload.size();
    case FrameKind::acknowledgement:
        out[1] = frame.channel.id;
        putUint32(out + 2, frame.sequence);
        putUint64(out + 6, frame.receivedAfter);
        return 14;
    case FrameKind::probe:
        putUint64(out + 1, frame.token);
        return probeSize;
    case FrameKind::probeAnswer:
        putUint64(out + 1, frame.token);
        std::memset(out + 9, 0, 7);
        if (frame.observed) {
            out[9] = 1;
            putUint32(out + 10, frame.observed->address);
            out[14] = static_cast<std::uint8_t>(frame.observed->port);
            out[15] = static_cast<std::uint8_t>(frame.observed->port >> 8);
        }
        return probeAnswerSize;
    }
    return 0;
}

std::optional<Frame> decodeFrame(std::span<const std::uint8_t> plaintext) {
    if (plaintext.empty() || plaintext.size() > maxFrameSize)
        return std::nullopt;
    Frame frame;
    const std::uint8_t kind = plaintext[0] & 0x7f;
    frame.channel.internal = (plaintext[0] & 0x80) != 0;
    if (kind > static_cast<std::uint8_t>(FrameKind::probeAnswer))
        return std::nullopt;
    frame.kind = static_cast<FrameKind>(kind);
    switch (frame.kind) {
    case FrameKind::keepAlive:
    case FrameKind::close:
        if (plaintext.size() != 1)
            return std::nullopt;
        return frame;
    case FrameKind::unreliable:
        if (plaintext.size() < 2)
            return std::nullopt;
        frame.channel.id = plaintext[1];
        frame.payload = plaintext.subspan(2);
        return frame;
    case FrameKind::reliablePart:
    case FrameKind::reliableEnd:
        if (plaintext.size() < 6)
            return std::nullopt;
        frame.channel.id = plaintext[1];
        frame.sequence = getUint32(&plaintext[2]);
        frame.payload = plaintext.subspan(6);
        return frame;
    case FrameKind::acknowledgement:
        if (plaintext.size() != 14)
            return std::nullopt;
        frame.channel.id = plaintext[1];
        frame.sequence = getUint32(&plaintext[2]);
        frame.receivedAfter = getUint64(&plaintext[6]);
        return frame;
    case FrameKind::probe:
        if (plaintext.size() != probeSize)
            return std::nullopt;
        frame.token = getUint64(&plaintext[1]);
        return frame;
    case FrameKind::probeAnswer: {
        if (plaintext.size() != probeAnswerSize || plaintext[9] > 1)
            return std::nullopt;
        frame.token = getUint64(&plaintext[1]);
        const Endpoint observed{getUint32(&plaintext[10]),
                                static_cast<std::uint16_t>(plaintext[14] | (plaintext[15] << 8))};
        if (plaintext[9] == 1) {
            if (observed.address == 0 || observed.port == 0)
                return std::nullopt;
            frame.observed = observed;
        } else if (observed != Endpoint{}) {
            return std::nullopt;
        }
        return frame;
    }
    }
    return std::nullopt;
}

} // namespace sdk::transport
