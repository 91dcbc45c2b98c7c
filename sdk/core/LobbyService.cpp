#include "sdk/core/SdkCore.h"

#include "sdk/core/EntryGuard.h"

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Lobbies with the host's core as the lobby (sdk/lobby/). Lobby transactions
// carry the type and capacity; their other setters keep values that no lobby
// uses (owner, metadata, locked). Lobby metadata, lobby messages, lobby updates and
// leaving or deleting a lobby other than by destroying the core are not
// offered.

namespace sdk {

namespace {

bool validKey(const char* key) {
    return key && *key && std::char_traits<char>::length(key) < discordMetadataKeySize;
}
bool validValue(const char* value) {
    return value && std::char_traits<char>::length(value) < discordMetadataValueSize;
}

// The metadata part of a lobby or member transaction: values set, keys deleted.
struct MetadataEdit {
    std::map<std::string, std::string> metadata;
    std::map<std::string, bool> deleted;

    DiscordResultCode set(const char* key, const char* value) {
        if (!validKey(key) || !validValue(value))
            return DiscordResult_InvalidArgument;
        metadata[key] = value;
        deleted.erase(key);
        return DiscordResult_Ok;
    }
    DiscordResultCode erase(const char* key) {
        if (!validKey(key))
            return DiscordResult_InvalidArgument;
        metadata.erase(key);
        deleted[key] = true;
        return DiscordResult_Ok;
    }
};

struct LobbyTransactionState : DiscordLobbyTransaction, MetadataEdit {
    std::int32_t type = DiscordLobbyType_Private;
    DiscordUserId ownerId = 0;
    std::uint32_t capacity = 8; // the program's lobbies, if it says nothing
    bool locked = false;
};

struct MemberTransactionState : DiscordLobbyMemberTransaction, MetadataEdit {};

LobbyTransactionState* state(DiscordLobbyTransaction* self) {
    return static_cast<LobbyTransactionState*>(self);
}
MemberTransactionState* state(DiscordLobbyMemberTransaction* self) {
    return static_cast<MemberTransactionState*>(self);
}

DiscordLobbyTransaction* newLobbyTransaction() {
    auto* transaction = new LobbyTransactionState;
    transaction->setType = [](DiscordLobbyTransaction* self, std::int32_t type) {
        if (type != DiscordLobbyType_Private && type != DiscordLobbyType_Public)
            return DiscordResultCode{DiscordResult_InvalidArgument};
        state(self)->type = type;
        return DiscordResultCode{DiscordResult_Ok};
    };
    transaction->setOwner = [](DiscordLobbyTransaction* self, DiscordUserId ownerId) {
        state(self)->ownerId = ownerId;
        return DiscordResultCode{DiscordResult_Ok};
    };
    transaction->setCapacity = [](DiscordLobbyTransaction* self, std::uint32_t capacity) {
        state(self)->capacity = capacity;
        return DiscordResultCode{DiscordResult_Ok};
    };
    transaction->setMetadata = [](DiscordLobbyTransaction* self, const char* key,
                                  const char* value) { return state(self)->set(key, value); };
    transaction->deleteMetadata = [](DiscordLobbyTransaction* self, const char* key) {
        return state(self)->erase(key);
    };
    transaction->setLocked = [](DiscordLobbyTransaction* self, bool locked) {
        state(self)->locked = locked;
        return DiscordResultCode{DiscordResult_Ok};
    };
    transaction->release = [](DiscordLobbyTransaction* self) { delete state(self); };
    guardEntries(*transaction);
    return transaction;
}

DiscordLobbyMemberTransaction* newMemberTransaction() {
    auto* transaction = new MemberTransactionState;
    transaction->setMetadata = [](DiscordLobbyMemberTransaction* self, const char* key,
                                  const char* value) { return state(self)->set(key, value); };
    transaction->deleteMetadata = [](DiscordLobbyMemberTransaction* self, const char* key) {
        return state(self)->erase(key);
    };
    transaction->release = [](DiscordLobbyMemberTransaction* self) { delete state(self); };
    guardEntries(*transaction);
    return transaction;
}

DiscordLobby recordOf(SdkCore& core, const lobby::LobbySettings& settings) {
    DiscordLobby record{};
    record.id = settings.id;
    record.type = settings.type;
    record.ownerId = settings.ownerId;
    record.capacity = settings.capacity;
    record.locked = settings.locked;
    copyText(record.secret, sizeof record.secret,
             core.lobbies().activitySecret(settings.id).c_str());
    return record;
}

void completeLobby(SdkCore& core, DiscordLobbyCallback callback, void* data,
                   DiscordResultCode result, const DiscordLobby& lobby) {
    if (callback)
        core.callbacks().push([callback, data, result, lobby] { callback(data, result, &lobby); });
}

// The completion of a connection, queued for the next runCallbacks.
// The client that gave the secret hears how the join ended.
lobby::LobbySession::ConnectDone connectDone(SdkCore& core, DiscordLobbyCallback callback,
                                             void* data, std::string secret) {
    return [&core, callback, data, secret = std::move(secret),
            start = std::chrono::steady_clock::now()](DiscordResultCode result,
                                                      const lobby::LobbySettings& settings) {
        const DiscordLobby record =
            result == DiscordResult_Ok ? recordOf(core, settings) : DiscordLobby{};
        completeLobby(core, callback, data, result, record);
        core.joinFinished(secret, result,
                          std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - start));
    };
}

void clearValue(char* value, std::size_t size) {
    if (value)
        copyText(value, size, "");
}

std::vector<lobby::MetadataChange> changesOf(const MemberTransactionState& transaction) {
    std::vector<lobby::MetadataChange> changes;
    for (const auto& [key, deleted] : transaction.deleted)
        changes.push_back(lobby::MetadataChange{key, std::nullopt});
    for (const auto& [key, value] : transaction.metadata)
        changes.push_back(lobby::MetadataChange{key, value});
    return changes;
}
} // namespace

void initLobbyService(Service<DiscordLobbyManager>& service) {
    service.getLobbyCreateTransaction = [](DiscordLobbyManager*,
                                           DiscordLobbyTransaction** transaction) {
        if (!transaction)
            return DiscordResultCode{DiscordResult_InvalidArgument};
        *transaction = newLobbyTransaction();
        return DiscordResultCode{DiscordResult_Ok};
    };
    service.getLobbyUpdateTransaction = [](DiscordLobbyManager*, DiscordLobbyId,
                                           DiscordLobbyTransaction** transaction) {
        if (!transaction)
            return DiscordResultCode{DiscordResult_InvalidArgument};
        *transaction = newLobbyTransaction();
        return DiscordResultCode{DiscordResult_Ok};
    };
    service.getMemberUpdateTransaction = [](DiscordLobbyManager*, DiscordLobbyId, DiscordUserId,
                                            DiscordLobbyMemberTransaction** transaction) {
        if (!transaction)
            return DiscordResultCode{DiscordResult_InvalidArgument};
        *transaction = newMemberTransaction();
        return DiscordResultCode{DiscordResult_Ok};
    };
    service.createLobby = [](DiscordLobbyManager* self, const DiscordLobbyTransaction* transaction,
                             void* data, DiscordLobbyCallback callback) {
        SdkCore& core = coreOf(self);
        if (!transaction) {
            completeLobby(core, callback, data, DiscordResult_InvalidArgument, {});
            return;
        }
        const auto* settings = static_cast<const LobbyTransactionState*>(transaction);
        lobby::LobbySettings created;
        const auto result = core.lobbies().create(settings->type, settings->capacity, created);
        completeLobby(core, callback, data, result,
                      result == DiscordResult_Ok ? recordOf(core, created) : DiscordLobby{});
    };
    service.updateLobby = [](DiscordLobbyManager* self, DiscordLobbyId,
                             const DiscordLobbyTransaction*, void* data,
                             DiscordResultCallback callback) {
        coreOf(self).complete(callback, data, DiscordResult_NotSupported);
    };
    service.deleteLobby = [](DiscordLobbyManager* self, DiscordLobbyId, void* data,
                             DiscordResultCallback callback) {
        coreOf(self).complete(callback, data, DiscordResult_NotSupported);
    };
    service.connectLobby = [](DiscordLobbyManager* self, DiscordLobbyId lobbyId, const char* secret,
                              void* data, DiscordLobbyCallback callback) {
        SdkCore& core = coreOf(self);
        const auto parsed = lobby::parseJoinSecret(secret ? secret : "");
        if (parsed && parsed->lobbyId != lobbyId) {
            completeLobby(core, callback, data, DiscordResult_NotFound, {});
            return;
        }
        const std::string text = secret ? secret : "";
        core.lobbies().connect(text, connectDone(core, callback, data, text));
    };
    service.connectLobbyWithActivitySecret = [](DiscordLobbyManager* self, const char* secret,
                                                void* data, DiscordLobbyCallback callback) {
        SdkCore& core = coreOf(self);
        const std::string text = secret ? secret : "";
        core.lobbies().connect(text, connectDone(core, callback, data, text));
    };
    service.disconnectLobby = [](DiscordLobbyManager* self, DiscordLobbyId, void* data,
                                 DiscordResultCallback callback) {
        coreOf(self).complete(callback, data, DiscordResult_NotSupported);
    };
    service.getLobby = [](DiscordLobbyManager* self, DiscordLobbyId lobbyId, DiscordLobby* lobby) {
        if (!lobby)
            return DiscordResultCode{DiscordResult_InvalidArgument};
        SdkCore& core = coreOf(self);
        const auto* settings = core.lobbies().lobby(lobbyId);
        *lobby = settings ? recordOf(core, *settings) : DiscordLobby{};
        return DiscordResultCode{settings ? DiscordResult_Ok : DiscordResult_NotFound};
    };
    service.getLobbyActivitySecret = [](DiscordLobbyManager* self, DiscordLobbyId lobbyId,
                                        char secret[discordTextSize]) {
        if (!secret)
            return DiscordResultCode{DiscordResult_InvalidArgument};
        const std::string text = coreOf(self).lobbies().activitySecret(lobbyId);
        copyText(secret, discordTextSize, text.c_str());
        return DiscordResultCode{text.empty() ? DiscordResult_NotFound : DiscordResult_Ok};
    };
    service.getLobbyMetadataValue = [](DiscordLobbyManager*, DiscordLobbyId, const char*,
                                       char value[discordMetadataValueSize]) {
        clearValue(value, discordMetadataValueSize);
        return DiscordResultCode{DiscordResult_NotFound};
    };
    // The engine reads the member list for every packet it sends: these two
    // neither allocate nor make a system call.
    service.memberCount = [](DiscordLobbyManager* self, DiscordLobbyId lobbyId,
                             std::int32_t* count) {
        if (!count)
            return DiscordResultCode{DiscordResult_InvalidArgument};
        const auto* members = coreOf(self).lobbies().members(lobbyId);
        *count = members ? static_cast<std::int32_t>(members->size()) : 0;
        return DiscordResultCode{members ? DiscordResult_Ok : DiscordResult_NotFound};
    };
    service.getMemberUserId = [](DiscordLobbyManager* self, DiscordLobbyId lobbyId,
                                 std::int32_t index, DiscordUserId* userId) {
        if (!userId)
            return DiscordResultCode{DiscordResult_InvalidArgument};
        const auto* members = coreOf(self).lobbies().members(lobbyId);
        if (!members || index < 0 || static_cast<std::size_t>(index) >= members->size()) {
            *userId = 0;
            return DiscordResultCode{DiscordResult_NotFound};
        }
        *userId = (*members)[static_cast<std::size_t>(index)].record.userId;
        return DiscordResultCode{DiscordResult_Ok};
    };
    // A missing value leaves the caller's buffer as it was.
    service.getMemberMetadataValue = [](DiscordLobbyManager* self, DiscordLobbyId lobbyId,
                                        DiscordUserId userId, const char* key,
                                        char value[discordMetadataValueSize]) {
        if (!key || !value)
            return DiscordResultCode{DiscordResult_InvalidArgument};
        const auto* member = coreOf(self).lobbies().member(lobbyId, userId);
        if (!member)
            return DiscordResultCode{DiscordResult_NotFound};
        const auto found = member->record.metadata.find(std::string_view(key));
        if (found == member->record.metadata.end())
            return DiscordResultCode{DiscordResult_NotFound};
        copyText(value, discordMetadataValueSize, found->second.c_str());
        return DiscordResultCode{DiscordResult_Ok};
    };
    service.updateMember = [](DiscordLobbyManager* self, DiscordLobbyId lobbyId,
                              DiscordUserId userId,
                              const DiscordLobbyMemberTransaction* transaction, void* data,
                              DiscordResultCallback callback) {
        SdkCore& core = coreOf(self);
        if (!transaction) {
            core.complete(callback, data, DiscordResult_InvalidArgument);
            return;
        }
        const auto& changes = *static_cast<const MemberTransactionState*>(transaction);
        core.complete(callback, data,
                      core.lobbies().updateMember(lobbyId, userId, changesOf(changes)));
    };
    service.sendLobbyMessage = [](DiscordLobbyManager* self, DiscordLobbyId, const std::uint8_t*,
                                  std::uint32_t, void* data, DiscordResultCallback callback) {
        coreOf(self).complete(callback, data, DiscordResult_NotSupported);
    };
}

} // namespace sdk
