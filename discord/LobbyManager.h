#pragma once

#include "discord/Event.h"
#include "discord/PendingCallbacks.h"
#include "discord/Types.h"

namespace discord {

class LobbyManager {
public:
    using LobbyCallback = std::function<void(Result, const Lobby&)>;
    using ResultCallback = std::function<void(Result)>;

    Result GetLobbyCreateTransaction(LobbyTransaction* transaction);
    Result GetLobbyUpdateTransaction(LobbyId lobbyId, LobbyTransaction* transaction);
    Result GetMemberUpdateTransaction(LobbyId lobbyId, UserId userId,
                                      LobbyMemberTransaction* transaction);
    void CreateLobby(const LobbyTransaction& transaction, LobbyCallback callback);
    void UpdateLobby(LobbyId lobbyId, const LobbyTransaction& transaction, ResultCallback callback);
    void DeleteLobby(LobbyId lobbyId, ResultCallback callback);
    void ConnectLobby(LobbyId lobbyId, LobbySecret secret, LobbyCallback callback);
    void ConnectLobbyWithActivitySecret(LobbySecret activitySecret, LobbyCallback callback);
    void DisconnectLobby(LobbyId lobbyId, ResultCallback callback);
    Result GetLobby(LobbyId lobbyId, Lobby* lobby);
    Result GetLobbyActivitySecret(LobbyId lobbyId, char secret[discordTextSize]);
    Result GetLobbyMetadataValue(LobbyId lobbyId, MetadataKey key,
                                 char value[discordMetadataValueSize]);
    Result MemberCount(LobbyId lobbyId, std::int32_t* count);
    Result GetMemberUserId(LobbyId lobbyId, std::int32_t index, UserId* userId);
    Result GetMemberMetadataValue(LobbyId lobbyId, UserId userId, MetadataKey key,
                                  char value[discordMetadataValueSize]);
    void UpdateMember(LobbyId lobbyId, UserId userId, const LobbyMemberTransaction& transaction,
                      ResultCallback callback);
    void SendLobbyMessage(LobbyId lobbyId, const std::uint8_t* data, std::uint32_t dataLength,
                          ResultCallback callback);

    Event<LobbyId> OnLobbyUpdate;
    Event<LobbyId, std::uint32_t> OnLobbyDelete;
    Event<LobbyId, UserId> OnMemberConnect;
    Event<LobbyId, UserId> OnMemberUpdate;
    Event<LobbyId, UserId> OnMemberDisconnect;
    Event<LobbyId, UserId, std::uint8_t*, std::uint32_t> OnLobbyMessage;

private:
    friend class Core;
    void* holdLobby(LobbyCallback callback);
    void* holdResult(ResultCallback callback);

    DiscordLobbyManager* internal = nullptr;
    PendingCallbacks* pending = nullptr;
};

} // namespace discord
