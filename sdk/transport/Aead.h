#pragma once

// Authenticated encryption of one datagram with a counter nonce. AES-256-GCM
// where the processor has it (about twice as fast here), else
// ChaCha20-Poly1305; the handshake picks one that both ends have.

#include "sdk/transport/Types.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace sdk::transport {

enum class Cipher : std::uint8_t { chacha20Poly1305 = 1, aes256Gcm = 2 };

constexpr std::size_t aeadTagSize = 16;

// The ciphers this machine can run, as a bit mask of Cipher values.
std::uint8_t availableCiphers(bool allowAes);
// The fastest cipher in both masks; chacha20Poly1305 is always in both.
Cipher chooseCipher(std::uint8_t ours, std::uint8_t theirs);
bool isKnownCipher(std::uint8_t value);

class PacketCipher {
public:
    PacketCipher(Cipher cipher, const SymmetricKey& key);
    ~PacketCipher();
    PacketCipher(const PacketCipher&) = delete;
    PacketCipher& operator=(const PacketCipher&) = delete;

    // Writes plaintext.size() + aeadTagSize bytes to out.
    void seal(std::uint64_t counter, std::span<const std::uint8_t> associated,
              std::span<const std::uint8_t> plaintext, std::uint8_t* out) const;
    // Writes sealed.size() - aeadTagSize bytes to out; false when forged.
    bool open(std::uint64_t counter, std::span<const std::uint8_t> associated,
              std::span<const std::uint8_t> sealed, std::uint8_t* out) const;

    Cipher cipher() const { return algorithm; }

private:
    struct AesState;
    Cipher algorithm;
    SymmetricKey key;
    std::unique_ptr<AesState> aes;
};

} // namespace sdk::transport
