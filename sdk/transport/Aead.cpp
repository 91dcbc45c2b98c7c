#include "sdk/transport/Aead.h"

#include <sodium.h>

#include <cstring>

namespace sdk::transport {

struct PacketCipher::AesState {
    crypto_aead_aes256gcm_state state;
};

namespace {
using Nonce = std::array<std::uint8_t, 12>;

Nonce nonceOf(std::uint64_t counter) {
    Nonce nonce{};
    for (int i = 0; i < 8; ++i)
        nonce[4 + i] = static_cast<std::uint8_t>(counter >> (8 * i));
    return nonce;
}

std::uint8_t bit(Cipher cipher) {
    return static_cast<std::uint8_t>(cipher);
}
} // namespace

std::uint8_t availableCiphers(bool allowAes) {
    std::uint8_t mask = bit(Cipher::chacha20Poly1305);
    if (allowAes && crypto_aead_aes256gcm_is_available())
        mask |= bit(Cipher::aes256Gcm);
    return mask;
}

Cipher chooseCipher(std::uint8_t ours, std::uint8_t theirs) {
    return (ours & theirs & bit(Cipher::aes256Gcm)) ? Cipher::aes256Gcm : Cipher::chacha20Poly1305;
}

bool isKnownCipher(std::uint8_t value) {
    return value == bit(Cipher::chacha20Poly1305) || value == bit(Cipher::aes256Gcm);
}

PacketCipher::PacketCipher(Cipher cipher, const SymmetricKey& key) : algorithm(cipher), key(key) {
    if (algorithm == Cipher::aes256Gcm) {
        aes = std::make_unique<AesState>();
        crypto_aead_aes256gcm_beforenm(&aes->state, key.data());
    }
}

PacketCipher::~PacketCipher() {
    sodium_memzero(key.data(), key.size());
}

void PacketCipher::seal(std::uint64_t counter, std::span<const std::uint8_t> associated,
                        std::span<const std::uint8_t> plaintext, std::uint8_t* out) const {
    const Nonce nonce = nonceOf(counter);
    unsigned long long length = 0;
    if (aes)
        crypto_aead_aes256gcm_encrypt_afternm(out, &length, plaintext.data(), plaintext.size(),
                                              associated.data(), associated.size(), nullptr,
                                              nonce.data(), &aes->state);
    else
        crypto_aead_chacha20poly1305_ietf_encrypt(out, &length, plaintext.data(), plaintext.size(),
                                                  associated.data(), associated.size(), nullptr,
                                                  nonce.data(), key.data());
}

bool PacketCipher::open(std::uint64_t counter, std::span<const std::uint8_t> associated,
                        std::span<const std::uint8_t> sealed, std::uint8_t* out) const {
    if (sealed.size() < aeadTagSize)
        return false;
    const Nonce nonce = nonceOf(counter);
    unsigned long long length = 0;
    if (aes)
        return crypto_aead_aes256gcm_decrypt_afternm(
                   out, &length, nullptr, sealed.data(), sealed.size(), associated.data(),
                   associated.size(), nonce.data(), &aes->state) == 0;
    return crypto_aead_chacha20poly1305_ietf_decrypt(
               out, &length, nullptr, sealed.data(), sealed.size(), associated.data(),
               associated.size(), nonce.data(), key.data()) == 0;
}

} // namespace sdk::transport
