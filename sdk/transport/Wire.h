#pragma once

// The datagram formats. All integers are little-endian.
//
//   initiation (137 bytes): type 1, protocol version (1), 2 zero bytes,
//       sender index (4), initiator static key (32), initiator ephemeral
//       key (32), timestamp (8), incarnation (8), cipher mask (1), MAC (16),
//       mac1 (16), mac2 (16)
//       MAC: keyed by the static-static exchange, proves the initiator's key.
//       mac1: keyed by a hash of the responder's public key, over everything
//       before it: only who knows whom it asks gets any public-key work.
//       mac2: keyed by a cookie the responder gave this source address, over
//       everything before it; zeros without a cookie.
//   response (69 bytes):    type 2, 3 zero bytes, sender index (4),
//       receiver index (4), responder ephemeral key (32), incarnation (8),
//       chosen cipher (1), MAC (16)
//   cookie reply (64 bytes): type 4, 3 zero bytes, receiver index (4),
//       nonce (24), sealed cookie (16 + 16-byte tag); the initiation's mac1 is
//       the associated data. A responder under load answers it to an
//       initiation without a valid mac2.
//   data (29 + frame):      type 3, receiver index (4), counter (8),
//       sealed frame (frame + 16-byte tag); the first 13 bytes are the
//       associated data and the counter is the nonce
//   relay request (9 + datagram): type 5, destination peer id (8), one
//       initiation, response, cookie reply or data datagram of the sender
//       for the destination; the relaying core forwards it as:
//   relayed (9 + datagram):       type 6, source peer id (8), the datagram
//       as the source sealed it. Only peers with a session at the relay on
//       both ends are served; the inner datagram stays sealed end to end.
//
// A data datagram's plaintext is one frame; its first byte is the kind, with
// bit 7 set for the transport's internal channels:
//   keep-alive:        kind 0
//   unreliable:        kind 1, channel, message
//   reliable part:     kind 2, channel, sequence (4), bytes (more parts follow)
//   reliable end:      kind 3, channel, sequence (4), bytes (last part of a message)
//   acknowledgement:   kind 4, channel, next expected sequence (4),
//                      received-after bitmap (8, bit i = next expected + 1 + i)
//   close:             kind 5
//   probe:             kind 6, token (8)
//   probe answer:      kind 7, the probe's token (8), where its datagram came
//                      from: 1, IPv4 address (4), port (2), or seen through
//                      a relay: 0 and six zero bytes

#include "sdk/transport/Types.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace sdk::transport {

constexpr std::size_t maxDatagramSize = 1472; // UDP payload on a 1500-byte link
constexpr std::size_t relayHeaderSize = 9;
// Every datagram for a peer fits a relay's header in front of it, so a path
// through a relay carries what a direct path does.
constexpr std::size_t maxPeerDatagramSize = maxDatagramSize - relayHeaderSize; // 1463
constexpr std::size_t dataHeaderSize = 13;
constexpr std::size_t dataOverhead = dataHeaderSize + 16;
constexpr std::size_t maxFrameSize = maxPeerDatagramSize - dataOverhead;
constexpr std::size_t unreliableHeaderSize = 2;
constexpr std::size_t reliableHeaderSize = 6;
constexpr std::size_t maxUnreliableMessage = maxFrameSize - unreliableHeaderSize; // 1432
constexpr std::size_t maxReliablePart = maxFrameSize - reliableHeaderSize;        // 1428
constexpr std::size_t probeSize = 9;
constexpr std::size_t probeAnswerSize = 16;
constexpr std::uint8_t protocolVersion = 1; // the first protocol's initiations carried 0
constexpr std::size_t initiationSize = 137;
constexpr std::size_t responseSize = 69;
constexpr std::size_t cookieReplySize = 64;
constexpr std::size_t macSize = 16;
constexpr std::size_t initiationMacOffset = 89;
constexpr std::size_t mac1Offset = initiationMacOffset + macSize;
constexpr std::size_t mac2Offset = mac1Offset + macSize;
constexpr std::size_t cookieNonceSize = 24;
constexpr std::size_t cookieSize = 16;

enum class DatagramType : std::uint8_t {
    initiation = 1,
    response = 2,
    data = 3,
    cookieReply = 4,
    relayRequest = 5,
    relayed = 6,
};

struct Initiation {
    std::uint32_t senderIndex = 0;
    PublicKey staticKey{};
    PublicKey ephemeralKey{};
    std::uint64_t timestamp = 0;
    std::uint64_t incarnation = 0;
    std::uint8_t ciphers = 0;
};

struct Response {
    std::uint32_t senderIndex = 0;
    std::uint32_t receiverIndex = 0;
    PublicKey ephemeralKey{};
    std::uint64_t incarnation = 0;
    std::uint8_t cipher = 0;
};

struct CookieReply {
    std::uint32_t receiverIndex = 0;
    std::array<std::uint8_t, cookieNonceSize> nonce{};
    std::array<std::uint8_t, cookieSize + 16> sealedCookie{};
};

struct DataHeader {
    std::uint32_t receiverIndex = 0;
    std::uint64_t counter = 0;
};

// Encoders write the whole datagram except the MACs, which Handshake appends.
std::vector<std::uint8_t> encodeInitiation(const Initiation& value);
std::vector<std::uint8_t> encodeCookieReply(const CookieReply& value);
std::optional<CookieReply> decodeCookieReply(std::span<const std::uint8_t> datagram);
std::vector<std::uint8_t> encodeResponse(const Response& value);
void encodeDataHeader(const DataHeader& value, std::uint8_t* out);

std::optional<DatagramType> datagramTypeOf(std::span<const std::uint8_t> datagram);
std::optional<Initiation> decodeInitiation(std::span<const std::uint8_t> datagram);
std::optional<Response> decodeResponse(std::span<const std::uint8_t> datagram);
std::optional<DataHeader> decodeDataHeader(std::span<const std::uint8_t> datagram);

// A relay request or a relayed datagram: the other peer's id and the inner
// datagram, which must be one a peer sends a peer (never another relay one).
struct RelayHeader {
    DatagramType type = DatagramType::relayRequest;
    PeerId peer = 0;
    std::span<const std::uint8_t> inner;
};
std::optional<RelayHeader> decodeRelay(std::span<const std::uint8_t> datagram);
// Writes the header into the relayHeaderSize bytes at out.
void encodeRelayHeader(DatagramType type, PeerId peer, std::uint8_t* out);

enum class FrameKind : std::uint8_t {
    keepAlive = 0,
    unreliable = 1,
    reliablePart = 2,
    reliableEnd = 3,
    acknowledgement = 4,
    close = 5,
    probe = 6,
    probeAnswer = 7,
};

struct Frame {
    FrameKind kind = FrameKind::keepAlive;
    Channel channel;
    std::uint32_t sequence = 0;      // reliable parts; next expected in acknowledgements
    std::uint64_t receivedAfter = 0; // acknowledgements
    std::span<const std::uint8_t> payload;
    std::uint64_t token = 0;          // probes and their answers
    std::optional<Endpoint> observed; // answers: the probe's source, unless relayed
};

// Writes a frame into out (at least maxFrameSize bytes); returns its size.
std::size_t encodeFrame(const Frame& frame, std::uint8_t* out);
std::optional<Frame> decodeFrame(std::span<const std::uint8_t> plaintext);

void putUint32(std::uint8_t* out, std::uint32_t value);
void putUint64(std::uint8_t* out, std::uint64_t value);
std::uint32_t getUint32(const std::uint8_t* in);
std::uint64_t getUint64(const std::uint8_t* in);

} // namespace sdk::transport
