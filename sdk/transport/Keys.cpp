#include "sdk/transport/Keys.h"

#include <sodium.h>

#include <cstring>

namespace sdk::transport {

KeyPair KeyPair::generate() {
    KeyPair pair;
    crypto_kx_keypair(pair.publicKey.data(), pair.secretKey.data());
    return pair;
}

PeerId peerIdOf(const PublicKey& key) {
    std::uint8_t hash[crypto_generichash_BYTES_MIN];
    static constexpr char context[] = "vaskor peer id";
    crypto_generichash(hash, sizeof hash, key.data(), key.size(),
                       reinterpret_cast<const unsigned char*>(context), sizeof context - 1);
    PeerId id = 0;
    for (int i = 7; i >= 0; --i)
        id = (id << 8) | hash[i];
    return id;
}

std::string keyToText(const PublicKey& key) {
    constexpr int variant = sodium_base64_VARIANT_URLSAFE_NO_PADDING;
    std::string text(sodium_base64_ENCODED_LEN(key.size(), variant), '\0');
    sodium_bin2base64(text.data(), text.size(), key.data(), key.size(), variant);
    text.resize(std::strlen(text.c_str()));
    return text;
}

std::optional<PublicKey> keyFromText(std::string_view text) {
    PublicKey key{};
    std::size_t length = 0;
    const char* end = nullptr;
    if (text.size() != 43)
        return std::nullopt;
    if (sodium_base642bin(key.data(), key.size(), text.data(), text.size(), nullptr, &length, &end,
                          sodium_base64_VARIANT_URLSAFE_NO_PADDING) != 0 ||
        length != key.size() || end != text.data() + text.size())
        return std::nullopt;
    // Only the canonical text of a key is a key: no second spelling.
    if (keyToText(key) != text)
        return std::nullopt;
    return key;
}

} // namespace sdk::transport
