#pragma once

// The game SDK's records and value types in the class layer: ids, results,
// users, lobbies, activities and the transactions that edit lobbies.

#include "interfaces/DiscordSdk.h"

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
using WaitHandle = DiscordWaitHandle; // Vaskor extension (Core::GetWaitHandle)

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
    explicit User(const DiscordUser& internal) : internal(internal) {}

    void SetId(UserId id) { internal.id = id; }
    UserId GetId() const { return internal.id; }
    void SetUsername(const char* username);
    const char* GetUsername() const { return internal.username; }
    void SetDiscriminator(const char* discriminator);
    const char* GetDiscriminator() const { return internal.discriminator; }
    void SetAvatar(const char* avatar);
    const char* GetAvatar() const { return internal.avatar; }
    void SetBot(bool bot) { internal.bot = bot; }
    bool GetBot() const { return internal.bot; }

    DiscordUser* Internal() { return &internal; }
    const DiscordUser* Internal() const { return &internal; }

private:
    DiscordUser internal{};
};

class Lobby {
public:
    Lobby() = default;
    explicit Lobby(const DiscordLobby& internal) : internal(internal) {}

    void SetId(LobbyId id) { internal.id = id; }
    LobbyId GetId() const { return internal.id; }
    void SetType(LobbyType type) { internal.type = static_cast<std::int32_t>(type); }
    LobbyType GetType() const { return static_cast<LobbyType>(internal.type); }
    void SetOwnerId(UserId ownerId) { internal.ownerId = ownerId; }
    UserId GetOwnerId() const { return internal.ownerId; }
    void SetSecret(LobbySecret secret);
    LobbySecret GetSecret() const { return internal.secret; }
    void SetCapacity(std::uint32_t capacity) { internal.capacity = capacity; }
    std::uint32_t GetCapacity() const { return internal.capacity; }
    void SetLocked(bool locked) { internal.locked = locked; }
    bool GetLocked() const { return internal.locked; }

    DiscordLobby* Internal() { return &internal; }
    const DiscordLobby* Internal() const { return &internal; }

private:
    DiscordLobby internal{};
};

class ActivityTimestamps {
public:
    void SetStart(std::int64_t start) { internal.start = start; }
    std::int64_t GetStart() const { return internal.start; }
    void SetEnd(std::int64_t end) { internal.end = end; }
    std::int64_t GetEnd() const { return internal.end; }
    const DiscordActivityTimestamps& Internal() const { return internal; }

private:
    DiscordActivityTimestamps internal{};
};

class ActivityAssets {
public:
    void SetLargeImage(const char* value);
    const char* GetLargeImage() const { return internal.largeImage; }
    void SetLargeText(const char* value);
    const char* GetLargeText() const { return internal.largeText; }
    void SetSmallImage(const char* value);
    const char* GetSmallImage() const { return internal.smallImage; }
    void SetSmallText(const char* value);
    const char* GetSmallText() const { return internal.smallText; }
    const DiscordActivityAssets& Internal() const { return internal; }

private:
    DiscordActivityAssets internal{};
};

class PartySize {
public:
    void SetCurrentSize(std::int32_t size) { internal.currentSize = size; }
    std::int32_t GetCurrentSize() const { return internal.currentSize; }
    void SetMaxSize(std::int32_t size) { internal.maxSize = size; }
    std::int32_t GetMaxSize() const { return internal.maxSize; }
    const DiscordPartySize& Internal() const { return internal; }

private:
    DiscordPartySize internal{};
};

class ActivityParty {
public:
    void SetId(const char* id);
    const char* GetId() const { return id; }
    PartySize& GetSize() { return size; }
    const PartySize& GetSize() const { return size; }
    DiscordActivityParty Internal() const;

private:
    char id[discordTextSize] = {};
    PartySize size;
};

class ActivitySecrets {
public:
    void SetMatch(const char* secret);
    const char* GetMatch() const { return internal.match; }
    void SetJoin(const char* secret);
    const char* GetJoin() const { return internal.join; }
    void SetSpectate(const char* secret);
    const char* GetSpectate() const { return internal.spectate; }
    const DiscordActivitySecrets& Internal() const { return internal; }

private:
    DiscordActivitySecrets internal{};
};

// Text fields are the SDK's fixed 128-byte fields: a longer text is cut to
// 127 bytes and the field always ends with a NUL.
class Activity {
public:
    Activity() = default;
    explicit Activity(const DiscordActivity& internal);

    void SetType(ActivityType value) { type = value; }
    ActivityType GetType() const { return type; }
    void SetApplicationId(ClientId id) { applicationId = id; }
    ClientId GetApplicationId() const { return applicationId; }
    void SetName(const char* name);
    const char* GetName() const { return name; }
    void SetState(const char* state);
    const char* GetState() const { return state; }
    void SetDetails(const char* details);
    const char* GetDetails() const { return details; }
    ActivityTimestamps& GetTimestamps() { return timestamps; }
    const ActivityTimestamps& GetTimestamps() const { return timestamps; }
    ActivityAssets& GetAssets() { return assets; }
    const ActivityAssets& GetAssets() const { return assets; }
    ActivityParty& GetParty() { return party; }
    const ActivityParty& GetParty() const { return party; }
    ActivitySecrets& GetSecrets() { return secrets; }
    const ActivitySecrets& GetSecrets() const { return secrets; }
    void SetInstance(bool value) { instance = value; }
    bool GetInstance() const { return instance; }

    DiscordActivity Internal() const;

private:
    ActivityType type = ActivityType::Playing;
    ClientId applicationId = 0;
    char name[discordTextSize] = {};
    char state[discordTextSize] = {};
    char details[discordTextSize] = {};
    ActivityTimestamps timestamps;
    ActivityAssets assets;
    ActivityParty party;
    ActivitySecrets secrets;
    bool instance = false;
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
    const DiscordLobbyTransaction* Internal() const { return internal; }

private:
    DiscordLobbyTransaction* internal = nullptr;
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
    const DiscordLobbyMemberTransaction* Internal() const { return internal; }

private:
    DiscordLobbyMemberTransaction* internal = nullptr;
};

} // namespace discord
