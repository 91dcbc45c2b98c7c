#include "discord/LobbyManager.h"

namespace discord {

namespace {
constexpr auto lobbyCallback = &PendingCallbacks::call<DiscordResultCode, const DiscordLobby*>;
constexpr auto resultCallback = &PendingCallbacks::call<DiscordResultCode>;
} // namespace

void* LobbyManager::holdLobby(LobbyCallback callback) {
    std::function<void(DiscordResultCode, const DiscordLobby*)> adapter =
        [callback = std::move(callback)](DiscordResultCode result, const DiscordLobby* lobby) {
            if (callback)
                callback(resultOf(result), lobby ? Lobby(*lobby) : Lobby());
        };
    return pending->hold(std::move(adapter));
}

void* LobbyManager::holdResult(ResultCallback callback) {
    std::function<void(DiscordResultCode)> adapter =
        [callback = std::move(callback)](DiscordResultCode result) {
            if (callback)
                callback(resultOf(result));
        };
    return pending->hold(std::move(adapter));
}

Result LobbyManager::GetLobbyCreateTransaction(LobbyTransaction* transaction) {
    if (!transaction)
        return Result::InvalidArgument;
    return resultOf(internal->getLobbyCreateTransaction(internal, transaction->Receive()));
}

Result LobbyManager::GetLobbyUpdateTransaction(LobbyId lobbyId, LobbyTransaction* transaction) {
    if (!transaction)
        return Result::InvalidArgument;
    return resultOf(internal->getLobbyUpdateTransaction(internal, lobbyId, transaction->Receive()));
}

Result LobbyManager::GetMemberUpdateTransaction(LobbyId lobbyId, UserId userId,
                                                LobbyMemberTransaction* transaction) {
    if (!transaction)
        return Result::InvalidArgument;
    return resultOf(
        internal->getMemberUpdateTransaction(internal, lobbyId, userId, transaction->Receive()));
}

void LobbyManager::CreateLobby(const LobbyTransaction& transaction, LobbyCallback callback) {
    internal->createLobby(internal, transaction.Internal(), holdLobby(std::move(callback)),
                          lobbyCallback);
}

void LobbyManager::UpdateLobby(LobbyId lobbyId, const LobbyTransaction& transaction,
                               ResultCallback callback) {
    internal->updateLobby(internal, lobbyId, transaction.Internal(),
                          holdResult(std::move(callback)), resultCallback);
}

void LobbyManager::DeleteLobby(LobbyId lobbyId, ResultCallback callback) {
    internal->deleteLobby(internal, lobbyId, holdResult(std::move(callback)), resultCallback);
}

void LobbyManager::ConnectLobby(LobbyId lobbyId, LobbySecret secret, LobbyCallback callback) {
    internal->connectLobby(internal, lobbyId, secret, holdLobby(std::move(callback)),
                           lobbyCallback);
}

void LobbyManager::ConnectLobbyWithActivitySecret(LobbySecret activitySecret,
                                                  LobbyCallback callback) {
    internal->connectLobbyWithActivitySecret(internal, activitySecret,
                                             holdLobby(std::move(callback)), lobbyCallback);
}

void LobbyManager::DisconnectLobby(LobbyId lobbyId, ResultCallback callback) {
    internal->disconnectLobby(internal, lobbyId, holdResult(std::move(callback)), resultCallback);
}

Result LobbyManager::GetLobby(LobbyId lobbyId, Lobby* lobby) {
    if (!lobby)
        return Result::InvalidArgument;
    return resultOf(internal->getLobby(internal, lobbyId, lobby->Internal()));
}

Result LobbyManager::GetLobbyActivitySecret(LobbyId lobbyId, char secret[discordTextSize]) {
    return resultOf(internal->getLobbyActivitySecret(internal, lobbyId, secret));
}

Result LobbyManager::GetLobbyMetadataValue(LobbyId lobbyId, MetadataKey key,
                                           char value[discordMetadataValueSize]) {
    return resultOf(internal->getLobbyMetadataValue(internal, lobbyId, key, value));
}

Result LobbyManager::MemberCount(LobbyId lobbyId, std::int32_t* count) {
    return resultOf(internal->memberCount(internal, lobbyId, count));
}

Result LobbyManager::GetMemberUserId(LobbyId lobbyId, std::int32_t index, UserId* userId) {
    return resultOf(internal->getMemberUserId(internal, lobbyId, index, userId));
}

Result LobbyManager::GetMemberMetadataValue(LobbyId lobbyId, UserId userId, MetadataKey key,
                                            char value[discordMetadataValueSize]) {
    return resultOf(internal->getMemberMetadataValue(internal, lobbyId, userId, key, value));
}

void LobbyManager::UpdateMember(LobbyId lobbyId, UserId userId,
                                const LobbyMemberTransaction& transaction,
                                ResultCallback callback) {
    internal->updateMember(internal, lobbyId, userId, transaction.Internal(),
                           holdResult(std::move(callback)), resultCallback);
}

void LobbyManager::SendLobbyMessage(LobbyId lobbyId, const std::uint8_t* data,
                                    std::uint32_t dataLength, ResultCallback callback) {
    internal->sendLobbyMessage(internal, lobbyId, data, dataLength, holdResult(std::move(callback)),
                               resultCallback);
}

} // namespace discord
