#include "discord/Types.h"

#include <cstring>
#include <utility>

namespace discord {

namespace {
template <std::size_t size> void setText(char (&field)[size], const char* text) {
    std::memset(field, 0, size);
    if (text)
        std::strncpy(field, text, size - 1);
}
} // namespace

void User::SetUsername(const char* username) {
    setText(internal_.username, username);
}
void User::SetDiscriminator(const char* discriminator) {
    setText(internal_.discriminator, discriminator);
}
void User::SetAvatar(const char* avatar) {
    setText(internal_.avatar, avatar);
}

void Lobby::SetSecret(LobbySecret secret) {
    setText(internal_.secret, secret);
}

void ActivityAssets::SetLargeImage(const char* value) {
    setText(internal_.largeImage, value);
}
void ActivityAssets::SetLargeText(const char* value) {
    setText(internal_.largeText, value);
}
void ActivityAssets::SetSmallImage(const char* value) {
    setText(internal_.smallImage, value);
}
void ActivityAssets::SetSmallText(const char* value) {
    setText(internal_.smallText, value);
}

void ActivityParty::SetId(const char* id) {
    setText(id_, id);
}

DiscordActivityParty ActivityParty::Internal() const {
    DiscordActivityParty party{};
    std::memcpy(party.id, id_, sizeof id_);
    party.size = size_.Internal();
    return party;
}

void ActivitySecrets::SetMatch(const char* secret) {
    setText(internal_.match, secret);
}
void ActivitySecrets::SetJoin(const char* secret) {
    setText(internal_.join, secret);
}
void ActivitySecrets::SetSpectate(const char* secret) {
    setText(internal_.spectate, secret);
}

Activity::Activity(const DiscordActivity& internal)
    : type_(static_cast<ActivityType>(internal.type)), applicationId_(internal.applicationId),
      instance_(internal.instance) {
    // Through the setters, so that a field without its NUL is still cut.
    char text[discordTextSize + 1] = {};
    const auto field = [&](const char(&from)[discordTextSize]) {
        std::memcpy(text, from, discordTextSize);
        return text;
    };
    SetName(field(internal.name));
    SetState(field(internal.state));
    SetDetails(field(internal.details));
    timestamps_.SetStart(internal.timestamps.start);
    timestamps_.SetEnd(internal.timestamps.end);
    assets_.SetLargeImage(field(internal.assets.largeImage));
    assets_.SetLargeText(field(internal.assets.largeText));
    assets_.SetSmallImage(field(internal.assets.smallImage));
    assets_.SetSmallText(field(internal.assets.smallText));
    party_.SetId(field(internal.party.id));
    party_.GetSize().SetCurrentSize(internal.party.size.currentSize);
    party_.GetSize().SetMaxSize(internal.party.size.maxSize);
    secrets_.SetMatch(field(internal.secrets.match));
    secrets_.SetJoin(field(internal.secrets.join));
    secrets_.SetSpectate(field(internal.secrets.spectate));
}

void Activity::SetName(const char* name) {
    setText(name_, name);
}
void Activity::SetState(const char* state) {
    setText(state_, state);
}
void Activity::SetDetails(const char* details) {
    setText(details_, details);
}

DiscordActivity Activity::Internal() const {
    DiscordActivity activity{};
    activity.type = static_cast<std::int32_t>(type_);
    activity.applicationId = applicationId_;
    std::memcpy(activity.name, name_, sizeof name_);
    std::memcpy(activity.state, state_, sizeof state_);
    std::memcpy(activity.details, details_, sizeof details_);
    activity.timestamps = timestamps_.Internal();
    activity.assets = assets_.Internal();
    activity.party = party_.Internal();
    activity.secrets = secrets_.Internal();
    activity.instance = instance_;
    return activity;
}

LobbyTransaction::~LobbyTransaction() {
    if (internal_)
        internal_->release(internal_);
}

LobbyTransaction::LobbyTransaction(LobbyTransaction&& other) noexcept
    : internal_(std::exchange(other.internal_, nullptr)) {}

LobbyTransaction& LobbyTransaction::operator=(LobbyTransaction&& other) noexcept {
    if (this != &other) {
        if (internal_)
            internal_->release(internal_);
        internal_ = std::exchange(other.internal_, nullptr);
    }
    return *this;
}

DiscordLobbyTransaction** LobbyTransaction::Receive() {
    if (internal_)
        internal_->release(internal_);
    internal_ = nullptr;
    return &internal_;
}

Result LobbyTransaction::SetType(LobbyType type) {
    if (!internal_)
        return Result::InvalidArgument;
    return resultOf(internal_->setType(internal_, static_cast<std::int32_t>(type)));
}
Result LobbyTransaction::SetOwner(UserId ownerId) {
    if (!internal_)
        return Result::InvalidArgument;
    return resultOf(internal_->setOwner(internal_, ownerId));
}
Result LobbyTransaction::SetCapacity(std::uint32_t capacity) {
    if (!internal_)
        return Result::InvalidArgument;
    return resultOf(internal_->setCapacity(internal_, capacity));
}
Result LobbyTransaction::SetMetadata(MetadataKey key, MetadataValue value) {
    if (!internal_)
        return Result::InvalidArgument;
    return resultOf(internal_->setMetadata(internal_, key, value));
}
Result LobbyTransaction::DeleteMetadata(MetadataKey key) {
    if (!internal_)
        return Result::InvalidArgument;
    return resultOf(internal_->deleteMetadata(internal_, key));
}
Result LobbyTransaction::SetLocked(bool locked) {
    if (!internal_)
        return Result::InvalidArgument;
    return resultOf(internal_->setLocked(internal_, locked));
}

LobbyMemberTransaction::~LobbyMemberTransaction() {
    if (internal_)
        internal_->release(internal_);
}

LobbyMemberTransaction::LobbyMemberTransaction(LobbyMemberTransaction&& other) noexcept
    : internal_(std::exchange(other.internal_, nullptr)) {}

LobbyMemberTransaction& LobbyMemberTransaction::operator=(LobbyMemberTransaction&& other) noexcept {
    if (this != &other) {
        if (internal_)
            internal_->release(internal_);
        internal_ = std::exchange(other.internal_, nullptr);
    }
    return *this;
}

DiscordLobbyMemberTransaction** LobbyMemberTransaction::Receive() {
    if (internal_)
        internal_->release(internal_);
    internal_ = nullptr;
    return &internal_;
}

Result LobbyMemberTransaction::SetMetadata(MetadataKey key, MetadataValue value) {
    if (!internal_)
        return Result::InvalidArgument;
    return resultOf(internal_->setMetadata(internal_, key, value));
}
Result LobbyMemberTransaction::DeleteMetadata(MetadataKey key) {
    if (!internal_)
        return Result::InvalidArgument;
    return resultOf(internal_->deleteMetadata(internal_, key));
}

} // namespace discord
