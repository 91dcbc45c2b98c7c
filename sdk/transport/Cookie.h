#pragma once

// The cheap checks in front of the handshake's public-key work.
//
// mac1 is keyed by a hash of the responder's public key: a sender that never
// learnt whom it asks costs the responder one keyed hash. Under load the
// responder wants more: a cookie, a MAC of the sender's address under a
// secret that changes every two minutes, which it sends sealed to that
// address; the sender proves it received it by keying mac2 with it. Only
// initiations that pass these checks reach the exchange.

#include "sdk/transport/Types.h"
#include "sdk/transport/Wire.h"

#include <array>
#include <optional>
#include <span>
#include <vector>

namespace sdk::transport {

using Cookie = std::array<std::uint8_t, cookieSize>;

// Writes mac1 (keyed for the responder) and mac2 (keyed by the cookie, or
// zeros) into an initiation whose other fields are written.
void writeInitiationMacs(std::span<std::uint8_t> initiation, const PublicKey& responder,
                         const std::optional<Cookie>& cookie);

// The sender's side: the cookie in a reply to the initiation it sent.
std::optional<Cookie> openCookieReply(const PublicKey& responder,
                                      std::span<const std::uint8_t> sentInitiation,
                                      std::span<const std::uint8_t> reply);

// The responder's side.
class CookieChecker {
public:
    CookieChecker() = default;
    explicit CookieChecker(const PublicKey& ownKey);

    // A keyed hash of the datagram: no public-key work.
    bool mac1Valid(std::span<const std::uint8_t> initiation) const;
    bool mac2Valid(std::span<const std::uint8_t> initiation, const Endpoint& from, TimePoint now);
    std::vector<std::uint8_t> reply(std::span<const std::uint8_t> initiation, const Endpoint& from,
                                    TimePoint now);

private:
    Cookie cookieFor(const Endpoint& from, TimePoint now);

    SymmetricKey mac1Key{};
    SymmetricKey sealKey{};
    SymmetricKey secret{};
    TimePoint secretMadeAt{};
};

} // namespace sdk::transport
