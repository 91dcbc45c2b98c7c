#pragma once

// The core's static key pair and the peer id bound to a public key.

#include "sdk/transport/Types.h"

#include <optional>
#include <string>
#include <string_view>

namespace sdk::transport {

struct KeyPair {
    PublicKey publicKey{};
    SecretKey secretKey{};

    static KeyPair generate();
};

// The first 64 bits of the key's BLAKE2b hash: whoever names a peer id also
// names the one key that may speak for it.
PeerId peerIdOf(const PublicKey& key);

std::string keyToText(const PublicKey& key);
std::optional<PublicKey> keyFromText(std::string_view text);

} // namespace sdk::transport
