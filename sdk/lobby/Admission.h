#pragma once

// Admission to a lobby: the member proves that it holds the lobby key without
// sending it. The proof is a MAC keyed with the lobby key over a transcript of
// the lobby id, both ends' static public keys, a nonce from each end and the
// member's user id. The transport has already proven both static keys, so a
// proof binds the member's key, and the host's fresh nonce makes a recorded
// proof worthless for another admission.

#include "sdk/lobby/JoinSecret.h"

#include <array>
#include <cstdint>

namespace sdk::lobby {

using Nonce = std::array<std::uint8_t, 16>;
using Proof = std::array<std::uint8_t, 32>;

struct AdmissionTranscript {
    std::int64_t lobbyId = 0;
    transport::PublicKey hostKey{};
    transport::PublicKey memberKey{};
    Nonce memberNonce{};
    Nonce hostNonce{};
    std::int64_t memberUserId = 0;
};

Nonce freshNonce();
LobbyKey freshLobbyKey();
Proof proveAdmission(const LobbyKey& key, const AdmissionTranscript& transcript);
// Constant-time comparison with the proof the key gives.
bool verifyAdmission(const LobbyKey& key, const AdmissionTranscript& transcript,
                     const Proof& proof);

} // namespace sdk::lobby
