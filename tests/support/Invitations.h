#pragma once

// Invitations that pass the client's whole check, for tests that deliver one:
// a made-up lobby n at 10.231.0.n.

#include "sdk/lobby/JoinSecret.h"

#include <cstdint>
#include <string>

namespace testsupport {

inline std::string validInvitation(std::uint8_t n) {
    sdk::lobby::JoinSecret secret;
    secret.lobbyId = 1000 + n;
    secret.lobbyKey.fill(n);
    secret.hostKey.fill(static_cast<std::uint8_t>(n + 1));
    secret.endpoints = {sdk::transport::Endpoint{(10u << 24) | (231u << 16) | n, 4000}};
    return sdk::lobby::formatJoinSecret(secret);
}

} // namespace testsupport
