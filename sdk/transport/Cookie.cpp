#include "sdk/transport/Cookie.h"

#include <sodium.h>

#include <algorithm>
#include <cstring>
#include <string_view>

namespace sdk::transport {

namespace {
constexpr std::chrono::seconds secretLifetime{120};

SymmetricKey labelledKey(std::string_view label, const PublicKey& key) {
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, 32);
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(label.data()),
                              label.size());
    crypto_generichash_update(&state, key.data(), key.size());
    SymmetricKey out{};
    crypto_generichash_final(&state, out.data(), out.size());
    return out;
}

SymmetricKey mac1KeyOf(const PublicKey& responder) {
    return labelledKey("vaskor mac1", responder);
}

SymmetricKey sealKeyOf(const PublicKey& responder) {
    return labelledKey("vaskor cookie", responder);
}

std::array<std::uint8_t, macSize> macOf(std::span<const std::uint8_t> key,
                                        std::span<const std::uint8_t> message) {
    std::array<std::uint8_t, macSize> mac{};
    crypto_generichash(mac.data(), mac.size(), message.data(), message.size(), key.data(),
                       key.size());
    return mac;
}

bool macAt(std::span<const std::uint8_t> key, std::span<const std::uint8_t> datagram,
           std::size_t offset) {
    const auto expected = macOf(key, datagram.first(offset));
    return sodium_memcmp(expected.data(), datagram.data() + offset, macSize) == 0;
}
} // namespace

void writeInitiationMacs(std::span<std::uint8_t> initiation, const PublicKey& responder,
                         const std::optional<Cookie>& cookie) {
    const SymmetricKey key = mac1KeyOf(responder);
    const auto mac1 = macOf(key, initiation.first(mac1Offset));
    std::memcpy(initiation.data() + mac1Offset, mac1.data(), macSize);
    std::array<std::uint8_t, macSize> mac2{};
    if (cookie)
        mac2 = macOf(*cookie, initiation.first(mac2Offset));
    std::memcpy(initiation.data() + mac2Offset, mac2.data(), macSize);
}

std::optional<Cookie> openCookieReply(const PublicKey& responder,
                                      std::span<const std::uint8_t> sentInitiation,
                                      std::span<const std::uint8_t> reply) {
    const auto decoded = decodeCookieReply(reply);
    if (!decoded || sentInitiation.size() != initiationSize ||
        decoded->receiverIndex != getUint32(&sentInitiation[4]))
        return std::nullopt;
    const SymmetricKey key = sealKeyOf(responder);
    Cookie cookie{};
    if (crypto_aead_xchacha20poly1305_ietf_decrypt(
            cookie.data(), nullptr, nullptr, decoded->sealedCookie.data(),
            decoded->sealedCookie.size(), sentInitiation.data() + mac1Offset, macSize,
            decoded->nonce.data(), key.data()) != 0)
        return std::nullopt;
    return cookie;
}

CookieChecker::CookieChecker(const PublicKey& ownKey)
    : mac1Key(mac1KeyOf(ownKey)), sealKey(sealKeyOf(ownKey)) {}

bool CookieChecker::mac1Valid(std::span<const std::uint8_t> initiation) const {
    return initiation.size() == initiationSize && macAt(mac1Key, initiation, mac1Offset);
}

bool CookieChecker::mac2Valid(std::span<const std::uint8_t> initiation, const Endpoint& from,
                              TimePoint now) {
    if (initiation.size() != initiationSize)
        return false;
    const Cookie cookie = cookieFor(from, now);
    return macAt(cookie, initiation, mac2Offset);
}

std::vector<std::uint8_t> CookieChecker::reply(std::span<const std::uint8_t> initiation,
                                               const Endpoint& from, TimePoint now) {
    CookieReply out;
    out.receiverIndex = getUint32(&initiation[4]);
    randombytes_buf(out.nonce.data(), out.nonce.size());
    const Cookie cookie = cookieFor(from, now);
    crypto_aead_xchacha20poly1305_ietf_encrypt(out.sealedCookie.data(), nullptr, cookie.data(),
                                               cookie.size(), initiation.data() + mac1Offset,
                                               macSize, nullptr, out.nonce.data(), sealKey.data());
    return encodeCookieReply(out);
}

Cookie CookieChecker::cookieFor(const Endpoint& from, TimePoint now) {
    if (secretMadeAt == TimePoint{} || now - secretMadeAt >= secretLifetime) {
        randombytes_buf(secret.data(), secret.size());
        secretMadeAt = now;
    }
    std::array<std::uint8_t, 18> address{};
    std::memcpy(address.data(), from.bytes().data(), from.bytes().size());
    address[16] = static_cast<std::uint8_t>(from.port);
    address[17] = static_cast<std::uint8_t>(from.port >> 8);
    return macOf(secret, address);
}

} // namespace sdk::transport
