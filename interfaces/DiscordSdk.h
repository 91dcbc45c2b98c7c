#pragma once

// The game SDK's C interface: plain records, the creation parameters, the core's
// function table and one function table per manager. The library in sdk/
// implements it; the class layer in discord/ wraps it. Every table's functions
// take the table itself as their first argument. Completions and events are
// called only inside runCallbacks, on the thread that calls it.

#include "interfaces/DiscordCreate.h"

#include <cstdint>

extern "C" {

// Result codes (DiscordResultCode); 0 is success.
enum DiscordResultValue : DiscordResultCode {
    DiscordResult_Ok = 0,
    DiscordResult_ServiceUnavailable = 1,
    DiscordResult_InvalidVersion = 2,
    DiscordResult_InternalError = 3,
    DiscordResult_InvalidArgument = 4,
    DiscordResult_NotFound = 5,
    DiscordResult_NotSupported = 6,
    DiscordResult_NetworkError = 7,
    DiscordResult_MessageTooLarge = 8,
    DiscordResult_BufferFull = 9,
    DiscordResult_NotConnected = 10,
    DiscordResult_AlreadyExists = 11,
    DiscordResult_InvalidRoute = 12,
    DiscordResult_LobbyFull = 13,
    DiscordResult_InvalidSecret = 14,
};

enum DiscordCreateFlagValue : std::uint64_t {
    DiscordCreateFlags_Default = 0,
    DiscordCreateFlags_NoRequireDiscord = 1,
    // Vaskor extension: the caller's DiscordCreateParams end with waitHandle,
    // which the SDK fills in. An SDK without the extension ignores the bit and
    // the field, so the handle stays discordNoWaitHandle.
    DiscordCreateFlags_VaskorWaitHandle = 1ULL << 32,
};

// Vaskor extension: a handle that is ready whenever runCallbacks has work (a
// datagram, a control client, a timer that is due, a completion waiting), and
// not ready while the core is idle. Valid until the core is destroyed; the
// caller only waits on it, never reads or closes it. It reflects the core as
// of the latest call into it.
#ifdef _WIN32
using DiscordWaitHandle = void*; // an event handle (HANDLE)
inline constexpr DiscordWaitHandle discordNoWaitHandle = nullptr;
#else
using DiscordWaitHandle = int; // a descriptor that poll reports readable
inline constexpr DiscordWaitHandle discordNoWaitHandle = -1;
#endif

// Every event table of this interface is at version 1.
constexpr std::uint32_t discordEventTableVersion = 1;

using DiscordClientId = std::int64_t;
using DiscordUserId = std::int64_t;
using DiscordLobbyId = std::int64_t;
using DiscordNetworkPeerId = std::uint64_t;
using DiscordNetworkChannelId = std::uint8_t;

// Fixed text fields: at most 127 bytes of text and always a NUL.
constexpr std::uint32_t discordTextSize = 128;
constexpr std::uint32_t discordMetadataKeySize = 256;
constexpr std::uint32_t discordMetadataValueSize = 4096;

struct DiscordUser {
    DiscordUserId id;
    char username[256];
    char discriminator[8];
    char avatar[128];
    bool bot;
};

enum DiscordLobbyTypeValue : std::int32_t {
    DiscordLobbyType_Private = 1,
    DiscordLobbyType_Public = 2,
};

struct DiscordLobby {
    DiscordLobbyId id;
    std::int32_t type;
    DiscordUserId ownerId;
    char secret[discordTextSize];
    std::uint32_t capacity;
    bool locked;
};

struct DiscordActivityTimestamps {
    std::int64_t start;
    std::int64_t end;
};

struct DiscordActivityAssets {
    char largeImage[discordTextSize];
    char largeText[discordTextSize];
    char smallImage[discordTextSize];
    char smallText[discordTextSize];
};

struct DiscordPartySize {
    std::int32_t currentSize;
    std::int32_t maxSize;
};

struct DiscordActivityParty {
    char id[discordTextSize];
    DiscordPartySize size;
};

struct DiscordActivitySecrets {
    char match[discordTextSize];
    char join[discordTextSize];
    char spectate[discordTextSize];
};

enum DiscordActivityTypeValue : std::int32_t {
    DiscordActivityType_Playing = 0,
    DiscordActivityType_Streaming = 1,
    DiscordActivityType_Listening = 2,
    DiscordActivityType_Watching = 3,
};

enum DiscordActivityActionTypeValue : std::int32_t {
    DiscordActivityActionType_Join = 1,
    DiscordActivityActionType_Spectate = 2,
};

struct DiscordActivity {
    std::int32_t type;
    DiscordClientId applicationId;
    char name[discordTextSize];
    char state[discordTextSize];
    char details[discordTextSize];
    DiscordActivityTimestamps timestamps;
    DiscordActivityAssets assets;
    DiscordActivityParty party;
    DiscordActivitySecrets secrets;
    bool instance;
};

using DiscordResultCallback = void (*)(void* callbackData, DiscordResultCode result);
using DiscordLobbyCallback = void (*)(void* callbackData, DiscordResultCode result,
                                      const DiscordLobby* lobby);
using DiscordUserCallback = void (*)(void* callbackData, DiscordResultCode result,
                                     const DiscordUser* user);

// Users.
struct DiscordUserManager {
    DiscordResultCode (*getCurrentUser)(DiscordUserManager* self, DiscordUser* user);
    void (*getUser)(DiscordUserManager* self, DiscordUserId userId, void* callbackData,
                    DiscordUserCallback callback);
};
struct DiscordUserEvents {
    void (*onCurrentUserUpdate)(void* eventData);
};

// Lobbies. A transaction belongs to whoever got it and is freed with release;
// the operations that take one copy what it holds.
struct DiscordLobbyTransaction {
    DiscordResultCode (*setType)(DiscordLobbyTransaction* self, std::int32_t type);
    DiscordResultCode (*setOwner)(DiscordLobbyTransaction* self, DiscordUserId ownerId);
    DiscordResultCode (*setCapacity)(DiscordLobbyTransaction* self, std::uint32_t capacity);
    DiscordResultCode (*setMetadata)(DiscordLobbyTransaction* self, const char* key,
                                     const char* value);
    DiscordResultCode (*deleteMetadata)(DiscordLobbyTransaction* self, const char* key);
    DiscordResultCode (*setLocked)(DiscordLobbyTransaction* self, bool locked);
    void (*release)(DiscordLobbyTransaction* self);
};
struct DiscordLobbyMemberTransaction {
    DiscordResultCode (*setMetadata)(DiscordLobbyMemberTransaction* self, const char* key,
                                     const char* value);
    DiscordResultCode (*deleteMetadata)(DiscordLobbyMemberTransaction* self, const char* key);
    void (*release)(DiscordLobbyMemberTransaction* self);
};
struct DiscordLobbyManager {
    DiscordResultCode (*getLobbyCreateTransaction)(DiscordLobbyManager* self,
                                                   DiscordLobbyTransaction** transaction);
    DiscordResultCode (*getLobbyUpdateTransaction)(DiscordLobbyManager* self,
                                                   DiscordLobbyId lobbyId,
                                                   DiscordLobbyTransaction** transaction);
    DiscordResultCode (*getMemberUpdateTransaction)(DiscordLobbyManager* self,
                                                    DiscordLobbyId lobbyId, DiscordUserId userId,
                                                    DiscordLobbyMemberTransaction** transaction);
    void (*createLobby)(DiscordLobbyManager* self, const DiscordLobbyTransaction* transaction,
                        void* callbackData, DiscordLobbyCallback callback);
    void (*updateLobby)(DiscordLobbyManager* self, DiscordLobbyId lobbyId,
                        const DiscordLobbyTransaction* transaction, void* callbackData,
                        DiscordResultCallback callback);
    void (*deleteLobby)(DiscordLobbyManager* self, DiscordLobbyId lobbyId, void* callbackData,
                        DiscordResultCallback callback);
    void (*connectLobby)(DiscordLobbyManager* self, DiscordLobbyId lobbyId, const char* secret,
                         void* callbackData, DiscordLobbyCallback callback);
    void (*connectLobbyWithActivitySecret)(DiscordLobbyManager* self, const char* activitySecret,
                                           void* callbackData, DiscordLobbyCallback callback);
    void (*disconnectLobby)(DiscordLobbyManager* self, DiscordLobbyId lobbyId, void* callbackData,
                            DiscordResultCallback callback);
    DiscordResultCode (*getLobby)(DiscordLobbyManager* self, DiscordLobbyId lobbyId,
                                  DiscordLobby* lobby);
    DiscordResultCode (*getLobbyActivitySecret)(DiscordLobbyManager* self, DiscordLobbyId lobbyId,
                                                char secret[discordTextSize]);
    DiscordResultCode (*getLobbyMetadataValue)(DiscordLobbyManager* self, DiscordLobbyId lobbyId,
                                               const char* key,
                                               char value[discordMetadataValueSize]);
    DiscordResultCode (*memberCount)(DiscordLobbyManager* self, DiscordLobbyId lobbyId,
                                     std::int32_t* count);
    DiscordResultCode (*getMemberUserId)(DiscordLobbyManager* self, DiscordLobbyId lobbyId,
                                         std::int32_t index, DiscordUserId* userId);
    DiscordResultCode (*getMemberMetadataValue)(DiscordLobbyManager* self, DiscordLobbyId lobbyId,
                                                DiscordUserId userId, const char* key,
                                                char value[discordMetadataValueSize]);
    void (*updateMember)(DiscordLobbyManager* self, DiscordLobbyId lobbyId, DiscordUserId userId,
                         const DiscordLobbyMemberTransaction* transaction, void* callbackData,
                         DiscordResultCallback callback);
    void (*sendLobbyMessage)(DiscordLobbyManager* self, DiscordLobbyId lobbyId,
                             const std::uint8_t* data, std::uint32_t length, void* callbackData,
                             DiscordResultCallback callback);
};
struct DiscordLobbyEvents {
    void (*onLobbyUpdate)(void* eventData, DiscordLobbyId lobbyId);
    void (*onLobbyDelete)(void* eventData, DiscordLobbyId lobbyId, std::uint32_t reason);
    void (*onMemberConnect)(void* eventData, DiscordLobbyId lobbyId, DiscordUserId userId);
    void (*onMemberUpdate)(void* eventData, DiscordLobbyId lobbyId, DiscordUserId userId);
    void (*onMemberDisconnect)(void* eventData, DiscordLobbyId lobbyId, DiscordUserId userId);
    void (*onLobbyMessage)(void* eventData, DiscordLobbyId lobbyId, DiscordUserId userId,
                           std::uint8_t* data, std::uint32_t length);
};

// Peer network. A route is a NUL-terminated text of at most 4095 bytes.
constexpr std::uint32_t discordRouteSize = 4096;
struct DiscordNetworkManager {
    void (*getPeerId)(DiscordNetworkManager* self, DiscordNetworkPeerId* peerId);
    DiscordResultCode (*flush)(DiscordNetworkManager* self);
    DiscordResultCode (*openPeer)(DiscordNetworkManager* self, DiscordNetworkPeerId peerId,
                                  const char* route);
    DiscordResultCode (*updatePeer)(DiscordNetworkManager* self, DiscordNetworkPeerId peerId,
                                    const char* route);
    DiscordResultCode (*closePeer)(DiscordNetworkManager* self, DiscordNetworkPeerId peerId);
    DiscordResultCode (*openChannel)(DiscordNetworkManager* self, DiscordNetworkPeerId peerId,
                                     DiscordNetworkChannelId channelId, bool reliable);
    DiscordResultCode (*closeChannel)(DiscordNetworkManager* self, DiscordNetworkPeerId peerId,
                                      DiscordNetworkChannelId channelId);
    DiscordResultCode (*sendMessage)(DiscordNetworkManager* self, DiscordNetworkPeerId peerId,
                                     DiscordNetworkChannelId channelId, const std::uint8_t* data,
                                     std::uint32_t length);
};
struct DiscordNetworkEvents {
    void (*onMessage)(void* eventData, DiscordNetworkPeerId peerId,
                      DiscordNetworkChannelId channelId, std::uint8_t* data, std::uint32_t length);
    void (*onRouteUpdate)(void* eventData, const char* route);
};

// Activity (rich presence) and invitations.
struct DiscordActivityManager {
    void (*updateActivity)(DiscordActivityManager* self, const DiscordActivity* activity,
                           void* callbackData, DiscordResultCallback callback);
    void (*clearActivity)(DiscordActivityManager* self, void* callbackData,
                          DiscordResultCallback callback);
    DiscordResultCode (*registerCommand)(DiscordActivityManager* self, const char* command);
};
struct DiscordActivityEvents {
    void (*onActivityJoin)(void* eventData, const char* secret);
    void (*onActivitySpectate)(void* eventData, const char* secret);
    void (*onActivityJoinRequest)(void* eventData, const DiscordUser* user);
};

struct DiscordOverlayManager {
    void (*isEnabled)(DiscordOverlayManager* self, bool* enabled);
    void (*isLocked)(DiscordOverlayManager* self, bool* locked);
    void (*setLocked)(DiscordOverlayManager* self, bool locked, void* callbackData,
                      DiscordResultCallback callback);
    void (*openActivityInvite)(DiscordOverlayManager* self, std::int32_t actionType,
                               void* callbackData, DiscordResultCallback callback);
};
struct DiscordOverlayEvents {
    void (*onToggle)(void* eventData, bool locked);
};

// Managers the program never uses; every operation answers "not supported".
struct DiscordRelationshipManager {
    DiscordResultCode (*count)(DiscordRelationshipManager* self, std::int32_t* count);
};
struct DiscordRelationshipEvents {
    void (*onRefresh)(void* eventData);
};
struct DiscordStoreManager {
    void (*fetchSkus)(DiscordStoreManager* self, void* callbackData,
                      DiscordResultCallback callback);
    DiscordResultCode (*countSkus)(DiscordStoreManager* self, std::int32_t* count);
};
struct DiscordStoreEvents {
    void (*onEntitlementCreate)(void* eventData, std::int64_t skuId);
};
struct DiscordVoiceManager {
    DiscordResultCode (*setSelfMute)(DiscordVoiceManager* self, bool mute);
    DiscordResultCode (*isSelfMute)(DiscordVoiceManager* self, bool* mute);
};
struct DiscordVoiceEvents {
    void (*onSettingsUpdate)(void* eventData);
};
struct DiscordAchievementManager {
    void (*setUserAchievement)(DiscordAchievementManager* self, std::int64_t achievementId,
                               std::uint8_t percentComplete, void* callbackData,
                               DiscordResultCallback callback);
    DiscordResultCode (*countUserAchievements)(DiscordAchievementManager* self,
                                               std::int32_t* count);
};
struct DiscordAchievementEvents {
    void (*onUserAchievementUpdate)(void* eventData, std::int64_t achievementId,
                                    std::uint8_t percentComplete);
};

// Creation parameters. eventData is passed to every event; a null event table
// means no events of that kind; every table's version must be 1.
struct DiscordCreateParams {
    DiscordClientId clientId;
    std::uint64_t flags;
    void* eventData;
    DiscordUserEvents* userEvents;
    std::uint32_t userVersion;
    DiscordActivityEvents* activityEvents;
    std::uint32_t activityVersion;
    DiscordRelationshipEvents* relationshipEvents;
    std::uint32_t relationshipVersion;
    DiscordLobbyEvents* lobbyEvents;
    std::uint32_t lobbyVersion;
    DiscordNetworkEvents* networkEvents;
    std::uint32_t networkVersion;
    DiscordOverlayEvents* overlayEvents;
    std::uint32_t overlayVersion;
    DiscordStoreEvents* storeEvents;
    std::uint32_t storeVersion;
    DiscordVoiceEvents* voiceEvents;
    std::uint32_t voiceVersion;
    DiscordAchievementEvents* achievementEvents;
    std::uint32_t achievementVersion;
    // Vaskor extension, read only with DiscordCreateFlags_VaskorWaitHandle.
    DiscordWaitHandle waitHandle;
};

// The core. destroy frees it and everything it made; no completion or event
// is called after it.
struct DiscordCoreInterface {
    void (*destroy)(DiscordCoreInterface* self);
    DiscordResultCode (*runCallbacks)(DiscordCoreInterface* self);
    DiscordUserManager* (*getUserManager)(DiscordCoreInterface* self);
    DiscordActivityManager* (*getActivityManager)(DiscordCoreInterface* self);
    DiscordRelationshipManager* (*getRelationshipManager)(DiscordCoreInterface* self);
    DiscordLobbyManager* (*getLobbyManager)(DiscordCoreInterface* self);
    DiscordNetworkManager* (*getNetworkManager)(DiscordCoreInterface* self);
    DiscordOverlayManager* (*getOverlayManager)(DiscordCoreInterface* self);
    DiscordStoreManager* (*getStoreManager)(DiscordCoreInterface* self);
    DiscordVoiceManager* (*getVoiceManager)(DiscordCoreInterface* self);
    DiscordAchievementManager* (*getAchievementManager)(DiscordCoreInterface* self);
};
}
