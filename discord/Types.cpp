#include "discord/Types.h"

#include <cstring>
#include <utility>

namespace discord {

namespace {
// Cut to the field, always ended by a zero.
template <std::size_t size> void setText(char (&field)[size], const char* text) {
    std::memset(field, 0, size);
    for (std::size_t i = 0; text && i + 1 < size && text[i] != '\0'; ++i)
        field[i] = text[i];
}
} // namespace

void User::SetUsername(const char* username) {
    setText(internal.username, username);
}
void User::SetDiscriminator(const char* discriminator) {
    setText(internal.discriminator, discriminator);
}
void User::SetAvatar(const char* avatar) {
    setText(internal.avatar, avatar);
}

void Lobby::SetSecret(LobbySecret secret) {
    setText(internal.secret, secret);
}

void ActivityAssets::SetLargeImage(const char* value) {
    setText(internal.largeImage, value);
}
void ActivityAssets::SetLargeText(const char* value) {
    setText(internal.largeText, value);
}
void ActivityAssets::SetSmallImage(const char* value) {
    setText(internal.smallImage, value);
}
void ActivityAssets::SetSmallText(const char* value) {
    setText(internal.smallText, value);
}

void ActivityParty::SetId(const char* value) {
    setText(id, value);
}

DiscordActivityParty ActivityParty::Internal() const {
    DiscordActivityParty party{};
    std::memcpy(party.id, id, sizeof id);
    party.size = size.Internal();
    return party;
}

void ActivitySecrets::SetMatch(const char* secret) {
    setText(internal.match, secret);
}
void ActivitySecrets::SetJoin(const char* secret) {
    setText(internal.join, secret);
}
void ActivitySecrets::SetSpectate(const char* secret) {
    setText(internal.spectate, secret);
}

Activity::Activity(const DiscordActivity& internal)
    : type(static_cast<ActivityType>(internal.type)), applicationId(internal.applicationId),
      instance(internal.instance) {
    // Through the setters, so that a field without its NUL is still cut.
    char text[discordTextSize + 1] = {};
    const auto field = [&](const char(&from)[discordTextSize]) {
        std::memcpy(text, from, discordTextSize);
        return text;
    };
    SetName(field(internal.name));
    SetState(field(internal.state));
    SetDetails(field(internal.details));
    timestamps.SetStart(internal.timestamps.start);
    timestamps.SetEnd(internal.timestamps.end);
    assets.SetLargeImage(field(internal.assets.largeImage));
    assets.SetLargeText(field(internal.assets.largeText));
    assets.SetSmallImage(field(internal.assets.smallImage));
    assets.SetSmallText(field(internal.assets.smallText));
    party.SetId(field(internal.party.id));
    party.GetSize().SetCurrentSize(internal.party.size.currentSize);
    party.GetSize().SetMaxSize(internal.party.size.maxSize);
    secrets.SetMatch(field(internal.secrets.match));
    secrets.SetJoin(field(internal.secrets.join));
    secrets.SetSpectate(field(internal.secrets.spectate));
}

void Activity::SetName(const char* value) {
    setText(name, value);
}
void Activity::SetState(const char* value) {
    setText(state, value);
}
void Activity::SetDetails(const char* value) {
    setText(details, value);
}

DiscordActivity Activity::Internal() const {
    DiscordActivity activity{};
    activity.type = static_cast<std::int32_t>(type);
    activity.applicationId = applicationId;
    std::memcpy(activity.name, name, sizeof name);
    std::memcpy(activity.state, state, sizeof state);
    std::memcpy(activity.details, details, sizeof details);
    activity.timestamps = timestamps.Internal();
    activity.assets = assets.Internal();
    activity.party = party.Internal();
    activity.secrets = secrets.Internal();
    activity.instance = instance;
    return activity;
}

LobbyTransaction::~LobbyTransaction() {
    if (internal)
        internal->release(internal);
}

LobbyTransaction::LobbyTransaction(LobbyTransaction&& other) noexcept
    : internal(std::exchange(other.internal, nullptr)) {}

LobbyTransaction& LobbyTransaction::operator=(LobbyTransaction&& other) noexcept {
    if (this != &other) {
        if (internal)
            internal->release(internal);
        internal = std::exchange(other.internal, nullptr);
    }
    return *this;
}

DiscordLobbyTransaction** LobbyTransaction::Receive() {
    if (internal)
        internal->release(internal);
    internal = nullptr;
    return &internal;
}

Result LobbyTransaction::SetType(LobbyType type) {
    if (!internal)
        return Result::InvalidArgument;
    return resultOf(internal->setType(internal, static_cast<std::int32_t>(type)));
}
Result LobbyTransaction::SetOwner(UserId ownerId) {
    if (!internal)
        return Result::InvalidArgument;
    return resultOf(internal->setOwner(internal, ownerId));
}
Result LobbyTransaction::SetCapacity(std::uint32_t capacity) {
    if (!internal)
        return Result::InvalidArgument;
    return resultOf(internal->setCapacity(internal, capacity));
}
Result LobbyTransaction::SetMetadata(MetadataKey key, MetadataValue value) {
    if (!internal)
        return Result::InvalidArgument;
    return resultOf(internal->setMetadata(internal, key, value));
}
Result LobbyTransaction::DeleteMetadata(MetadataKey key) {
    if (!internal)
        return Result::InvalidArgument;
    return resultOf(internal->deleteMetadata(internal, key));
}
Result LobbyTransaction::SetLocked(bool locked) {
    if (!internal)
        return Result::InvalidArgument;
    return resultOf(internal->setLocked(internal, locked));
}

LobbyMemberTransaction::~LobbyMemberTransaction() {
    if (internal)
        internal->release(internal);
}

LobbyMemberTransaction::LobbyMemberTransaction(LobbyMemberTransaction&& other) noexcept
    : internal(std::exchange(other.internal, nullptr)) {}

LobbyMemberTransaction& LobbyMemberTransaction::operator=(LobbyMemberTransaction&& other) noexcept {
    if (this != &other) {
        if (internal)
            internal->release(internal);
        internal = std::exchange(other.internal, nullptr);
    }
    return *this;
}

DiscordLobbyMemberTransaction** LobbyMemberTransaction::Receive() {
    if (internal)
        internal->release(internal);
    internal = nullptr;
    return &internal;
}

Result LobbyMemberTransaction::SetMetadata(MetadataKey key, MetadataValue value) {
    if (!internal)
        return Result::InvalidArgument;
    return resultOf(internal->setMetadata(internal, key, value));
}
Result LobbyMemberTransaction::DeleteMetadata(MetadataKey key) {
    if (!internal)
        return Result::InvalidArgument;
    return resultOf(internal->deleteMetadata(internal, key));
}

} // namespace discord
