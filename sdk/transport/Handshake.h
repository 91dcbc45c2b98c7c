#pragma once

// The handshake on the two ends' static key pairs (libsodium key exchange).
//
// The initiator proves its static key with a MAC keyed by the static-static
// exchange, so a core answers only keys it accepts and only their holders.
// The responder answers with a fresh ephemeral key and a MAC keyed by both the
// static and the ephemeral exchange, which proves the key the route named.
// Session keys mix both exchanges, so every handshake gives new keys and
// counters can start at zero.

#include "sdk/transport/Aead.h"
#include "sdk/transport/Cookie.h"
#include "sdk/transport/Keys.h"
#include "sdk/transport/Wire.h"

#include <optional>
#include <span>
#include <vector>

namespace sdk::transport {

struct SessionKeys {
    SymmetricKey send{};
    SymmetricKey receive{};
};

// What the initiator keeps between its initiation and the response.
struct PendingInitiation {
    KeyPair ephemeral;
    std::uint32_t localIndex = 0;
    std::uint8_t ciphers = 0;
};

struct InitiationToSend {
    std::vector<std::uint8_t> datagram;
    PendingInitiation pending;
};

InitiationToSend makeInitiation(const KeyPair& local, const PublicKey& remote,
                                std::uint32_t localIndex, std::uint64_t timestamp,
                                std::uint64_t incarnation, std::uint8_t ciphers,
                                const std::optional<Cookie>& cookie = std::nullopt);

// An initiation whose MAC proves (mac1 and mac2 are the caller's to check first) the holder of
// initiation.staticKey.
struct VerifiedInitiation {
    Initiation initiation;
};
std::optional<VerifiedInitiation> verifyInitiation(const KeyPair& local,
                                                   std::span<const std::uint8_t> datagram);

struct ResponseToSend {
    std::vector<std::uint8_t> datagram;
    SessionKeys keys;
    Cipher cipher = Cipher::chacha20Poly1305;
};
std::optional<ResponseToSend> makeResponse(const KeyPair& local, const Initiation& initiation,
                                           std::uint32_t localIndex, std::uint64_t incarnation,
                                           std::uint8_t ciphers);

struct AcceptedResponse {
    Response response;
    SessionKeys keys;
    Cipher cipher = Cipher::chacha20Poly1305;
};
std::optional<AcceptedResponse> acceptResponse(const KeyPair& local, const PublicKey& remote,
                                               const PendingInitiation& pending,
                                               std::span<const std::uint8_t> datagram);

} // namespace sdk::transport
