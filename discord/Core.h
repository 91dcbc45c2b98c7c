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

    // Vaskor extension, not in the platform's SDK: a handle that is ready
    // when RunCallbacks has work (a pollable descriptor here, an event handle
    // on Windows). NotSupported when the SDK offers none.
    Result GetWaitHandle(WaitHandle* handle) const;

    discord::LobbyManager& LobbyManager() { return lobbyManager; }
    discord::UserManager& UserManager() { return userManager; }
    discord::ActivityManager& ActivityManager() { return activityManager; }
    discord::OverlayManager& OverlayManager() { return overlayManager; }
    discord::NetworkManager& NetworkManager() { return networkManager; }

private:
    Core() = default;
    struct Events;

    DiscordCoreInterface* internal = nullptr;
    WaitHandle waitHandle = discordNoWaitHandle;
    PendingCallbacks pending;
    discord::LobbyManager lobbyManager;
    discord::UserManager userManager;
    discord::ActivityManager activityManager;
    discord::OverlayManager overlayManager;
    discord::NetworkManager networkManager;
};

} // namespace discord
