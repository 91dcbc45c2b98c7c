#pragma once

// The game SDK's records and value types in the class layer: ids, results,
// users, lobbies, activities and the transactions that edit lobbies.

#include "sdk/DiscordSdk.h"

#include <cstdint>

namespace discord {

using ClientId = std::int64_t;
using UserId = std::int64_t;
using LobbyId = std::int64_t;
using NetworkPeerId = std::uint64_t;
using NetworkChannelId = std::uint8_t;
using LobbySecret = const char*;
using MetadataKey = const char*;
using MetadataValue = const char*;

enum class Result : std::int32_t {
    Ok = DiscordResult_Ok,
    ServiceUnavailable = DiscordResult_ServiceUnavailable,
    InvalidVersion = DiscordResult_InvalidVersion,
    InternalError = DiscordResult_InternalError,
    InvalidArgument = DiscordResult_InvalidArgument,
    NotFound = DiscordResult_NotFound,
    NotSupported = DiscordResult_NotSupported,
    NetworkError = DiscordResult_NetworkError,
    MessageTooLarge = DiscordResult_MessageTooLarge,
    BufferFull = DiscordResult_BufferFull,
    NotConnected = DiscordResult_NotConnected,
    AlreadyExists = DiscordResult_AlreadyExists,
    InvalidRoute = DiscordResult_InvalidRoute,
    LobbyFull = DiscordResult_LobbyFull,
    InvalidSecret = DiscordResult_InvalidSecret,
};

enum class CreateFlags : std::uint64_t {
    Default = DiscordCreateFlags_Default,
    NoRequireDiscord = DiscordCreateFlags_NoRequireDiscord,
};

enum class LobbyType : std::int32_t {
    Private = DiscordLobbyType_Private,
    Public = DiscordLobbyType_Public,
};

enum class ActivityType : std::int32_t {
    Playing = DiscordActivityType_Playing,
    Streaming = DiscordActivityType_Streaming,
    Listening = DiscordActivityType_Listening,
    Watching = DiscordActivityType_Watching,
};

enum class ActivityActionType : std::int32_t {
    Join = DiscordActivityActionType_Join,
    Spectate = DiscordActivityActionType_Spectate,
};

inline Result resultOf(DiscordResultCode code) {
    return static_cast<Result>(code);
}

class User {
public:
    User() = default;
    explicit User(const DiscordUser& internal) : internal_(internal) {}

    void SetId(UserId id) { internal_.id = id; }
    UserId GetId() const { return internal_.id; }
    void SetUsername(const char* username);
    const char* GetUsername() const { return internal_.username; }
    void SetDiscriminator(const char* discriminator);
    const char* GetDiscriminator() const { return internal_.discriminator; }
    void SetAvatar(const char* avatar);
    const char* GetAvatar() const { return internal_.avatar; }
    void SetBot(bool bot) { internal_.bot = bot; }
    bool GetBot() const { return internal_.bot; }

    DiscordUser* Internal() { return &internal_; }
    const DiscordUser* Internal() const { return &internal_; }

private:
    DiscordUser internal_{};
};

class Lobby {
public:
    Lobby() = default;
    explicit Lobby(const DiscordLobby& internal) : internal_(internal) {}

    void SetId(LobbyId id) { internal_.id = id; }
    LobbyId GetId() const { return internal_.id; }
    void SetType(LobbyType type) { internal_.type = static_cast<std::int32_t>(type); }
    LobbyType GetType() const { return static_cast<LobbyType>(internal_.type); }
    void SetOwnerId(UserId ownerId) { internal_.ownerId = ownerId; }
    UserId GetOwnerId() const { return internal_.ownerId; }
    void SetSecret(LobbySecret secret);
    LobbySecret GetSecret() const { return internal_.secret; }
    void SetCapacity(std::uint32_t capacity) { internal_.capacity = capacity; }
    std::uint32_t GetCapacity() const { return internal_.capacity; }
    void SetLocked(bool locked) { internal_.locked = locked; }
    bool GetLocked() const { return internal_.locked; }

    DiscordLobby* Internal() { return &internal_; }
    const DiscordLobby* Internal() const { return &internal_; }

private:
    DiscordLobby internal_{};
};

class ActivityTimestamps {
public:
    void SetStart(std::int64_t start) { internal_.start = start; }
    std::int64_t GetStart() const { return internal_.start; }
    void SetEnd(std::int64_t end) { internal_.end = end; }
    std::int64_t GetEnd() const { return internal_.end; }
    const DiscordActivityTimestamps& Internal() const { return internal_; }

private:
    DiscordActivityTimestamps internal_{};
};

class ActivityAssets {
public:
    void SetLargeImage(const char* value);
    const char* GetLargeImage() const { return internal_.largeImage; }
    void SetLargeText(const char* value);
    const char* GetLargeText() const { return internal_.largeText; }
    void SetSmallImage(const char* value);
    const char* GetSmallImage() const { return internal_.smallImage; }
    void SetSmallText(const char* value);
    const char* GetSmallText() const { return internal_.smallText; }
    const DiscordActivityAssets& Internal() const { return internal_; }

private:
    DiscordActivityAssets internal_{};
};

class PartySize {
public:
    void SetCurrentSize(std::int32_t size) { internal_.currentSize = size; }
    std::int32_t GetCurrentSize() const { return internal_.currentSize; }
    void SetMaxSize(std::int32_t size) { internal_.maxSize = size; }
    std::int32_t GetMaxSize() const { return internal_.maxSize; }
    const DiscordPartySize& Internal() const { return internal_; }

private:
    DiscordPartySize internal_{};
};

class ActivityParty {
public:
    void SetId(const char* id);
    const char* GetId() const { return id_; }
    PartySize& GetSize() { return size_; }
    const PartySize& GetSize() const { return size_; }
    DiscordActivityParty Internal() const;

private:
    char id_[discordTextSize] = {};
    PartySize size_;
};

class ActivitySecrets {
public:
    void SetMatch(const char* secret);
    const char* GetMatch() const { return internal_.match; }
    void SetJoin(const char* secret);
    const char* GetJoin() const { return internal_.join; }
    void SetSpectate(const char* secret);
    const char* GetSpectate() const { return internal_.spectate; }
    const DiscordActivitySecrets& Internal() const { return internal_; }

private:
    DiscordActivitySecrets internal_{};
};

// Text fields are the SDK's fixed 128-byte fields: a longer text is cut to
// 127 bytes and the field always ends with a NUL.
class Activity {
public:
    Activity() = default;
    explicit Activity(const DiscordActivity& internal);

    void SetType(ActivityType type) { type_ = type; }
    ActivityType GetType() const { return type_; }
    void SetApplicationId(ClientId id) { applicationId_ = id; }
    ClientId GetApplicationId() const { return applicationId_; }
    void SetName(const char* name);
    const char* GetName() const { return name_; }
    void SetState(const char* state);
    const char* GetState() const { return state_; }
    void SetDetails(const char* details);
    const char* GetDetails() const { return details_; }
    ActivityTimestamps& GetTimestamps() { return timestamps_; }
    const ActivityTimestamps& GetTimestamps() const { return timestamps_; }
    ActivityAssets& GetAssets() { return assets_; }
    const ActivityAssets& GetAssets() const { return assets_; }
    ActivityParty& GetParty() { return party_; }
    const ActivityParty& GetParty() const { return party_; }
    ActivitySecrets& GetSecrets() { return secrets_; }
    const ActivitySecrets& GetSecrets() const { return secrets_; }
    void SetInstance(bool instance) { instance_ = instance; }
    bool GetInstance() const { return instance_; }

    DiscordActivity Internal() const;

private:
    ActivityType type_ = ActivityType::Playing;
    ClientId applicationId_ = 0;
    char name_[discordTextSize] = {};
    char state_[discordTextSize] = {};
    char details_[discordTextSize] = {};
    ActivityTimestamps timestamps_;
    ActivityAssets assets_;
    ActivityParty party_;
    ActivitySecrets secrets_;
    bool instance_ = false;
};

// An edit of a lobby, made by LobbyManager and used by CreateLobby or
// UpdateLobby. It owns the SDK's transaction and frees it when destroyed.
class LobbyTransaction {
public:
    LobbyTransaction() = default;
    ~LobbyTransaction();
    LobbyTransaction(LobbyTransaction&& other) noexcept;
    LobbyTransaction& operator=(LobbyTransaction&& other) noexcept;

    Result SetType(LobbyType type);
    Result SetOwner(UserId ownerId);
    Result SetCapacity(std::uint32_t capacity);
    Result SetMetadata(MetadataKey key, MetadataValue value);
    Result DeleteMetadata(MetadataKey key);
    Result SetLocked(bool locked);

    DiscordLobbyTransaction** Receive(); // frees any held transaction first
    const DiscordLobbyTransaction* Internal() const { return internal_; }

private:
    DiscordLobbyTransaction* internal_ = nullptr;
};

class LobbyMemberTransaction {
public:
    LobbyMemberTransaction() = default;
    ~LobbyMemberTransaction();
    LobbyMemberTransaction(LobbyMemberTransaction&& other) noexcept;
    LobbyMemberTransaction& operator=(LobbyMemberTransaction&& other) noexcept;

    Result SetMetadata(MetadataKey key, MetadataValue value);
    Result DeleteMetadata(MetadataKey key);

    DiscordLobbyMemberTransaction** Receive();
    const DiscordLobbyMemberTransaction* Internal() const { return internal_; }

private:
    DiscordLobbyMemberTransaction* internal_ = nullptr;
};

} // namespace discord
