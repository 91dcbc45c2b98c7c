#include "sdk/core/SdkCore.h"

#include <map>
#include <string>

// Lobbies are not offered yet: transactions can be made and filled, and every
// lobby operation answers "not supported" (completions through runCallbacks).

namespace sdk {

namespace {
struct LobbyTransactionState : DiscordLobbyTransaction {
    std::int32_t type = DiscordLobbyType_Private;
    DiscordUserId ownerId = 0;
    std::uint32_t capacity = 0;
    bool locked = false;
    std::map<std::string, std::string> metadata;
    std::map<std::string, bool> deleted;
};

struct MemberTransactionState : DiscordLobbyMemberTransaction {
    std::map<std::string, std::string> metadata;
    std::map<std::string, bool> deleted;
};

bool validKey(const char* key) {
    return key && *key && std::char_traits<char>::length(key) < discordMetadataKeySize;
}
bool validValue(const char* value) {
    return value && std::char_traits<char>::length(value) < discordMetadataValueSize;
}

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
                                  const char* value) {
        if (!validKey(key) || !validValue(value))
            return DiscordResultCode{DiscordResult_InvalidArgument};
        state(self)->metadata[key] = value;
        state(self)->deleted.erase(key);
        return DiscordResultCode{DiscordResult_Ok};
    };
    transaction->deleteMetadata = [](DiscordLobbyTransaction* self, const char* key) {
        if (!validKey(key))
            return DiscordResultCode{DiscordResult_InvalidArgument};
        state(self)->metadata.erase(key);
        state(self)->deleted[key] = true;
        return DiscordResultCode{DiscordResult_Ok};
    };
    transaction->setLocked = [](DiscordLobbyTransaction* self, bool locked) {
        state(self)->locked = locked;
        return DiscordResultCode{DiscordResult_Ok};
    };
    transaction->release = [](DiscordLobbyTransaction* self) { delete state(self); };
    return transaction;
}

DiscordLobbyMemberTransaction* newMemberTransaction() {
    auto* transaction = new MemberTransactionState;
    transaction->setMetadata = [](DiscordLobbyMemberTransaction* self, const char* key,
                                  const char* value) {
        if (!validKey(key) || !validValue(value))
            return DiscordResultCode{DiscordResult_InvalidArgument};
        state(self)->metadata[key] = value;
        state(self)->deleted.erase(key);
        return DiscordResultCode{DiscordResult_Ok};
    };
    transaction->deleteMetadata = [](DiscordLobbyMemberTransaction* self, const char* key) {
        if (!validKey(key))
            return DiscordResultCode{DiscordResult_InvalidArgument};
        state(self)->metadata.erase(key);
        state(self)->deleted[key] = true;
        return DiscordResultCode{DiscordResult_Ok};
    };
    transaction->release = [](DiscordLobbyMemberTransaction* self) { delete state(self); };
    return transaction;
}

void completeLobby(DiscordLobbyManager* self, DiscordLobbyCallback callback, void* data) {
    if (callback)
        coreOf(self).callbacks().push([callback, data] {
            const DiscordLobby none{};
            callback(data, DiscordResult_NotSupported, &none);
        });
}

void clearValue(char* value, std::size_t size) {
    if (value)
        copyText(value, size, "");
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
    service.createLobby = [](DiscordLobbyManager* self, const DiscordLobbyTransaction*, void* data,
                             DiscordLobbyCallback callback) {
        completeLobby(self, callback, data);
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
    service.connectLobby = [](DiscordLobbyManager* self, DiscordLobbyId, const char*, void* data,
                              DiscordLobbyCallback callback) {
        completeLobby(self, callback, data);
    };
    service.connectLobbyWithActivitySecret = [](DiscordLobbyManager* self, const char*, void* data,
                                                DiscordLobbyCallback callback) {
        completeLobby(self, callback, data);
    };
    service.disconnectLobby = [](DiscordLobbyManager* self, DiscordLobbyId, void* data,
                                 DiscordResultCallback callback) {
        coreOf(self).complete(callback, data, DiscordResult_NotSupported);
    };
    service.getLobby = [](DiscordLobbyManager*, DiscordLobbyId, DiscordLobby* lobby) {
        if (lobby)
            *lobby = DiscordLobby{};
        return DiscordResultCode{DiscordResult_NotFound};
    };
    service.getLobbyActivitySecret = [](DiscordLobbyManager*, DiscordLobbyId,
                                        char secret[discordTextSize]) {
        clearValue(secret, discordTextSize);
        return DiscordResultCode{DiscordResult_NotFound};
    };
    service.getLobbyMetadataValue = [](DiscordLobbyManager*, DiscordLobbyId, const char*,
                                       char value[discordMetadataValueSize]) {
        clearValue(value, discordMetadataValueSize);
        return DiscordResultCode{DiscordResult_NotFound};
    };
    service.memberCount = [](DiscordLobbyManager*, DiscordLobbyId, std::int32_t* count) {
        if (count)
            *count = 0;
        return DiscordResultCode{DiscordResult_NotFound};
    };
    service.getMemberUserId = [](DiscordLobbyManager*, DiscordLobbyId, std::int32_t,
                                 DiscordUserId* userId) {
        if (userId)
            *userId = 0;
        return DiscordResultCode{DiscordResult_NotFound};
    };
    service.getMemberMetadataValue = [](DiscordLobbyManager*, DiscordLobbyId, DiscordUserId,
                                        const char*, char value[discordMetadataValueSize]) {
        clearValue(value, discordMetadataValueSize);
        return DiscordResultCode{DiscordResult_NotFound};
    };
    service.updateMember = [](DiscordLobbyManager* self, DiscordLobbyId, DiscordUserId,
                              const DiscordLobbyMemberTransaction*, void* data,
                              DiscordResultCallback callback) {
        coreOf(self).complete(callback, data, DiscordResult_NotSupported);
    };
    service.sendLobbyMessage = [](DiscordLobbyManager* self, DiscordLobbyId, const std::uint8_t*,
                                  std::uint32_t, void* data, DiscordResultCallback callback) {
        coreOf(self).complete(callback, data, DiscordResult_NotSupported);
    };
}

} // namespace sdk
