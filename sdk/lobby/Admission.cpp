#include "sdk/lobby/Admission.h"

#include "sdk/transport/Wire.h"

#include <sodium.h>

#include <cstring>

namespace sdk::lobby {

namespace {
constexpr char context[] = "vaskor lobby admission 1";
} // namespace

Nonce freshNonce() {
    Nonce nonce;
    randombytes_buf(nonce.data(), nonce.size());
    return nonce;
}

LobbyKey freshLobbyKey() {
    LobbyKey key;
    randombytes_buf(key.data(), key.size());
    return key;
}

Proof proveAdmission(const LobbyKey& key, const AdmissionTranscript& transcript) {
    std::uint8_t bytes[sizeof context - 1 + 8 + 32 + 32 + 16 + 16 + 8];
    std::uint8_t* out = bytes;
    std::memcpy(out, context, sizeof context - 1);
    out += sizeof context - 1;
    transport::putUint64(out, static_cast<std::uint64_t>(transcript.lobbyId));
    out += 8;
    std::memcpy(out, transcript.hostKey.data(), 32);
    out += 32;
    std::memcpy(out, transcript.memberKey.data(), 32);
    out += 32;
    std::memcpy(out, transcript.memberNonce.data(), 16);
    out += 16;
    std::memcpy(out, transcript.hostNonce.data(), 16);
    out += 16;
    transport::putUint64(out, static_cast<std::uint64_t>(transcript.memberUserId));

    Proof proof;
    crypto_generichash(proof.data(), proof.size(), bytes, sizeof bytes, key.data(), key.size());
    return proof;
}

bool verifyAdmission(const LobbyKey& key, const AdmissionTranscript& transcript,
                     const Proof& proof) {
    const Proof expected = proveAdmission(key, transcript);
    return sodium_memcmp(expected.data(), proof.data(), proof.size()) == 0;
}

} // namespace sdk::lobby
