#pragma once

// The SDK's core in the class layer: created with the application's client id,
// it owns the SDK instance and its managers. Every completion and event runs
// inside RunCallbacks, on the thread that calls it.

#include "discord/ActivityManager.h"
#include "discord/LobbyManager.h"
#include "discord/NetworkManager.h"
#include "discord/OverlayManager.h"
#include "discord/PendingCallbacks.h"
#include "discord/Types.h"
#include "discord/UserManager.h"

namespace discord {

class Core {
public:
    // On failure *instance is null and the result says why.
    static Result Create(ClientId clientId, std::uint64_t flags, Core** instance);
    ~Core();
    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    Result RunCallbacks();

    discord::LobbyManager& LobbyManager() { return lobbyManager_; }
    discord::UserManager& UserManager() { return userManager_; }
    discord::ActivityManager& ActivityManager() { return activityManager_; }
    discord::OverlayManager& OverlayManager() { return overlayManager_; }
    discord::NetworkManager& NetworkManager() { return networkManager_; }

private:
    Core() = default;
    struct Events;

    DiscordCoreInterface* internal_ = nullptr;
    PendingCallbacks pending_;
    discord::LobbyManager lobbyManager_;
    discord::UserManager userManager_;
    discord::ActivityManager activityManager_;
    discord::OverlayManager overlayManager_;
    discord::NetworkManager networkManager_;
};

} // namespace discord
