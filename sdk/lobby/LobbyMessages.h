#pragma once

// The lobby's messages on the transport's internal control channel (reliable,
// ordered). One message per transport message; the first byte is its type,
// integers are little-endian, texts are a 2-byte length and the bytes.
//
// member -> host:
//   1 join request    lobby id (8), member nonce (16), user id (8), name
//   3 proof           MAC (32), see Admission.h
//   5 metadata update change count (2), changes: set (1) key [value] / delete (0) key
// host -> member:
//   2 challenge       host nonce (16)
//   4 welcome         lobby id (8), type (4), owner (8), capacity (4), locked (1),
//                     member count (1), members: user id (8), public key (32), name,
//                     metadata
//   6 member joined   user id (8), public key (32), name
//   7 member updated  user id (8), metadata: entry count (2), entries: key, value
//   8 member left     user id (8)
//   9 refusal         reason (1)
//  10 lobby state     as welcome: the whole lobby, for a member that missed
//                     messages (its backlog at the host was full)
//
// Keys are 1..255 bytes, values 0..4095, neither holds a NUL (they travel
// through C strings), and one member's metadata encodes to at most
// maxMemberMetadataBytes, so a welcome of a full lobby fits one message.
// Names are texts that pass validUserName (UserName.h).

#include "sdk/lobby/Admission.h"
#include "sdk/lobby/UserName.h"

#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace sdk::lobby {

using Metadata = std::map<std::string, std::string, std::less<>>;

inline constexpr std::uint32_t maxLobbyCapacity = 16;
inline constexpr std::size_t maxMetadataKeyBytes = 255;
inline constexpr std::size_t maxMetadataValueBytes = 4095;
inline constexpr std::size_t maxMemberMetadataBytes = 15 * 1024;

struct MetadataChange {
    std::string key;
    std::optional<std::string> value; // none: delete

    bool operator==(const MetadataChange&) const = default;
};

struct LobbySettings {
    std::int64_t id = 0;
    std::int32_t type = 0;
    std::int64_t ownerId = 0;
    std::uint32_t capacity = 0;
    bool locked = false;

    bool operator==(const LobbySettings&) const = default;
};

struct MemberRecord {
    std::int64_t userId = 0;
    transport::PublicKey key{};
    std::string name;
    Metadata metadata;

    bool operator==(const MemberRecord&) const = default;
};

struct JoinRequest {
    std::int64_t lobbyId = 0;
    Nonce memberNonce{};
    std::int64_t userId = 0;
    std::string name;
    bool operator==(const JoinRequest&) const = default;
};
struct Challenge {
    Nonce hostNonce{};
    bool operator==(const Challenge&) const = default;
};
struct AdmissionProof {
    Proof proof{};
    bool operator==(const AdmissionProof&) const = default;
};
struct Welcome {
    LobbySettings lobby;
    std::vector<MemberRecord> members;
    bool operator==(const Welcome&) const = default;
};
struct LobbyState {
    LobbySettings lobby;
    std::vector<MemberRecord> members;
    bool operator==(const LobbyState&) const = default;
};
struct MetadataUpdate {
    std::vector<MetadataChange> changes;
    bool operator==(const MetadataUpdate&) const = default;
};
struct MemberJoined {
    std::int64_t userId = 0;
    transport::PublicKey key{};
    std::string name;
    bool operator==(const MemberJoined&) const = default;
};
struct MemberUpdated {
    std::int64_t userId = 0;
    Metadata metadata;
    bool operator==(const MemberUpdated&) const = default;
};
struct MemberLeft {
    std::int64_t userId = 0;
    bool operator==(const MemberLeft&) const = default;
};
enum class RefusalReason : std::uint8_t {
    noSuchLobby = 1,
    wrongProof = 2,
    lobbyFull = 3,
    notExpected = 4,
};
struct Refusal {
    RefusalReason reason = RefusalReason::notExpected;
    bool operator==(const Refusal&) const = default;
};

using LobbyMessage = std::variant<JoinRequest, Challenge, AdmissionProof, Welcome, MetadataUpdate,
                                  MemberJoined, MemberUpdated, MemberLeft, Refusal, LobbyState>;

std::vector<std::uint8_t> encodeLobbyMessage(const LobbyMessage& message);
// Nothing for anything malformed, over a limit, or with bytes left over.
std::optional<LobbyMessage> decodeLobbyMessage(std::span<const std::uint8_t> bytes);

bool validMetadataKey(std::string_view key);
bool validMetadataValue(std::string_view value);
// The bytes a member's metadata takes in a message.
std::size_t encodedMetadataSize(const Metadata& metadata);
// metadata with the changes applied, or nothing when the result breaks a limit.
std::optional<Metadata> applyChanges(const Metadata& metadata,
                                     const std::vector<MetadataChange>& changes);

const char* describe(RefusalReason reason);

} // namespace sdk::lobby
