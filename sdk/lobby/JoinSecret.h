#pragma once

// The join secret: what a host hands out and a member connects with.
//
//   vaskor1.<base64url, no padding, of the record below>
//
// record (little-endian):
//   lobby id (8) | lobby key (16) | host public key (32) |
//   1..5 host endpoints, each IPv4 address (4) and UDP port (2) |
//   check (2): the first two bytes of BLAKE2b of everything before
//
// At most 88 bytes, 118 characters of base64url, 126 with the prefix: it fits
// the SDK's 127-byte text fields. The check only catches a mistyped or cut
// invitation early; the lobby key is what admission proves.

#include "sdk/transport/Types.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sdk::lobby {

using LobbyKey = std::array<std::uint8_t, 16>;

inline constexpr std::string_view joinSecretPrefix = "vaskor1.";
inline constexpr std::size_t maxSecretEndpoints = 5;
inline constexpr std::size_t maxJoinSecretLength = 127;

struct JoinSecret {
    std::int64_t lobbyId = 0; // positive
    LobbyKey lobbyKey{};
    transport::PublicKey hostKey{};
    std::vector<transport::Endpoint> endpoints; // 1..5, none with port 0

    bool operator==(const JoinSecret&) const = default;
};

// The text of a secret; only the first maxSecretEndpoints endpoints are kept.
// A secret without endpoints has no text (empty string).
std::string formatJoinSecret(const JoinSecret& secret);
std::optional<JoinSecret> parseJoinSecret(std::string_view text);

} // namespace sdk::lobby
