#pragma once

// The join secret: what a host hands out and a member connects with.
//
//   vaskor1.<base64url, no padding, of the record below>
//
// record (little-endian):
//   lobby id (8) | lobby key (16) | host public key (32) |
//   host endpoints: IPv4 ones, each address (4) and UDP port (2), then IPv6
//   ones, each address (16) and UDP port (2) |
//   IPv6 count (1), present only when there are IPv6 endpoints |
//   check (2): the first two bytes of BLAKE2b of everything before
//
// The endpoints are 1..5 IPv4 ones, or one IPv6 one and at most one IPv4 one
// (the first of each family in the route). At most 88 bytes, 118 characters of base64url, 126 with
// the prefix: it fits the SDK's 127-byte text fields. The check only catches a mistyped or cut
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
    std::vector<transport::Endpoint> endpoints; // as above, none with port 0

    bool operator==(const JoinSecret&) const = default;
};

// The text of a secret; only the endpoints that fit are kept (see above).
// A secret without endpoints has no text (empty string).
std::string formatJoinSecret(const JoinSecret& secret);
std::optional<JoinSecret> parseJoinSecret(std::string_view text);

} // namespace sdk::lobby
