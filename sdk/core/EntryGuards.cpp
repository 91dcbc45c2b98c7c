#include "sdk/core/EntryGuard.h"

#include <cstdio>

// The entry points of the C interface, each behind its guard.

namespace sdk {

void reportEntryFailure(const char* entry, const char* what) {
    std::fprintf(stderr, "game SDK: %s failed: %s\n", entry, what);
}

namespace {

void guardTable(DiscordUserManager& table) {
    guardEntry<&DiscordUserManager::getCurrentUser, "getCurrentUser">(table);
    guardEntry<&DiscordUserManager::getUser, "getUser">(table);
}

void guardTable(DiscordLobbyManager& table) {
    guardEntry<&DiscordLobbyManager::getLobbyCreateTransaction, "getLobbyCreateTransaction">(table);
    guardEntry<&DiscordLobbyManager::getLobbyUpdateTransaction, "getLobbyUpdateTransaction">(table);
    guardEntry<&DiscordLobbyManager::getMemberUpdateTransaction, "getMemberUpdateTransaction">(
        table);
    guardEntry<&DiscordLobbyManager::createLobby, "createLobby">(table);
    guardEntry<&DiscordLobbyManager::updateLobby, "updateLobby">(table);
    guardEntry<&DiscordLobbyManager::deleteLobby, "deleteLobby">(table);
    guardEntry<&DiscordLobbyManager::connectLobby, "connectLobby">(table);
    guardEntry<&DiscordLobbyManager::connectLobbyWithActivitySecret,
               "connectLobbyWithActivitySecret">(table);
    guardEntry<&DiscordLobbyManager::disconnectLobby, "disconnectLobby">(table);
    guardEntry<&DiscordLobbyManager::getLobby, "getLobby">(table);
    guardEntry<&DiscordLobbyManager::getLobbyActivitySecret, "getLobbyActivitySecret">(table);
    guardEntry<&DiscordLobbyManager::getLobbyMetadataValue, "getLobbyMetadataValue">(table);
    guardEntry<&DiscordLobbyManager::memberCount, "memberCount">(table);
    guardEntry<&DiscordLobbyManager::getMemberUserId, "getMemberUserId">(table);
    guardEntry<&DiscordLobbyManager::getMemberMetadataValue, "getMemberMetadataValue">(table);
    guardEntry<&DiscordLobbyManager::updateMember, "updateMember">(table);
    guardEntry<&DiscordLobbyManager::sendLobbyMessage, "sendLobbyMessage">(table);
}

void guardTable(DiscordNetworkManager& table) {
    guardEntry<&DiscordNetworkManager::getPeerId, "getPeerId">(table);
    guardEntry<&DiscordNetworkManager::flush, "flush">(table);
    guardEntry<&DiscordNetworkManager::openPeer, "openPeer">(table);
    guardEntry<&DiscordNetworkManager::updatePeer, "updatePeer">(table);
    guardEntry<&DiscordNetworkManager::closePeer, "closePeer">(table);
    guardEntry<&DiscordNetworkManager::openChannel, "openChannel">(table);
    guardEntry<&DiscordNetworkManager::closeChannel, "closeChannel">(table);
    guardEntry<&DiscordNetworkManager::sendMessage, "sendMessage">(table);
}

void guardTable(DiscordActivityManager& table) {
    guardEntry<&DiscordActivityManager::updateActivity, "updateActivity">(table);
    guardEntry<&DiscordActivityManager::clearActivity, "clearActivity">(table);
    guardEntry<&DiscordActivityManager::registerCommand, "registerCommand">(table);
}

void guardTable(DiscordOverlayManager& table) {
    guardEntry<&DiscordOverlayManager::isEnabled, "isEnabled">(table);
    guardEntry<&DiscordOverlayManager::isLocked, "isLocked">(table);
    guardEntry<&DiscordOverlayManager::setLocked, "setLocked">(table);
    guardEntry<&DiscordOverlayManager::openActivityInvite, "openActivityInvite">(table);
}

void guardTable(DiscordRelationshipManager& table) {
    guardEntry<&DiscordRelationshipManager::count, "count">(table);
}

void guardTable(DiscordStoreManager& table) {
    guardEntry<&DiscordStoreManager::fetchSkus, "fetchSkus">(table);
    guardEntry<&DiscordStoreManager::countSkus, "countSkus">(table);
}

void guardTable(DiscordVoiceManager& table) {
    guardEntry<&DiscordVoiceManager::setSelfMute, "setSelfMute">(table);
    guardEntry<&DiscordVoiceManager::isSelfMute, "isSelfMute">(table);
}

void guardTable(DiscordAchievementManager& table) {
    guardEntry<&DiscordAchievementManager::setUserAchievement, "setUserAchievement">(table);
    guardEntry<&DiscordAchievementManager::countUserAchievements, "countUserAchievements">(table);
}

} // namespace

void guardEntries(SdkCore& core) {
    DiscordCoreInterface& table = core;
    guardTable(*table.getUserManager(&table));
    guardTable(*table.getLobbyManager(&table));
    guardTable(*table.getNetworkManager(&table));
    guardTable(*table.getActivityManager(&table));
    guardTable(*table.getOverlayManager(&table));
    guardTable(*table.getRelationshipManager(&table));
    guardTable(*table.getStoreManager(&table));
    guardTable(*table.getVoiceManager(&table));
    guardTable(*table.getAchievementManager(&table));
    guardEntry<&DiscordCoreInterface::destroy, "destroy">(table);
    guardEntry<&DiscordCoreInterface::runCallbacks, "runCallbacks">(table);
    guardEntry<&DiscordCoreInterface::getUserManager, "getUserManager">(table);
    guardEntry<&DiscordCoreInterface::getActivityManager, "getActivityManager">(table);
    guardEntry<&DiscordCoreInterface::getRelationshipManager, "getRelationshipManager">(table);
    guardEntry<&DiscordCoreInterface::getLobbyManager, "getLobbyManager">(table);
    guardEntry<&DiscordCoreInterface::getNetworkManager, "getNetworkManager">(table);
    guardEntry<&DiscordCoreInterface::getOverlayManager, "getOverlayManager">(table);
    guardEntry<&DiscordCoreInterface::getStoreManager, "getStoreManager">(table);
    guardEntry<&DiscordCoreInterface::getVoiceManager, "getVoiceManager">(table);
    guardEntry<&DiscordCoreInterface::getAchievementManager, "getAchievementManager">(table);
}

void guardEntries(DiscordLobbyTransaction& transaction) {
    guardEntry<&DiscordLobbyTransaction::setType, "lobby transaction setType">(transaction);
    guardEntry<&DiscordLobbyTransaction::setOwner, "lobby transaction setOwner">(transaction);
    guardEntry<&DiscordLobbyTransaction::setCapacity, "lobby transaction setCapacity">(transaction);
    guardEntry<&DiscordLobbyTransaction::setMetadata, "lobby transaction setMetadata">(transaction);
    guardEntry<&DiscordLobbyTransaction::deleteMetadata, "lobby transaction deleteMetadata">(
        transaction);
    guardEntry<&DiscordLobbyTransaction::setLocked, "lobby transaction setLocked">(transaction);
    guardEntry<&DiscordLobbyTransaction::release, "lobby transaction release">(transaction);
}

void guardEntries(DiscordLobbyMemberTransaction& transaction) {
    guardEntry<&DiscordLobbyMemberTransaction::setMetadata, "member transaction setMetadata">(
        transaction);
    guardEntry<&DiscordLobbyMemberTransaction::deleteMetadata, "member transaction deleteMetadata">(
        transaction);
    guardEntry<&DiscordLobbyMemberTransaction::release, "member transaction release">(transaction);
}

} // namespace sdk
