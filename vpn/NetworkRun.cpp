#include "vpn/NetworkRun.h"

#include "platform/Wait.h"
#include "vpn/PeerProtocol.h"
#include "vpn/Vpn.h"

#include <array>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

// The application's client id at the game platform, fixed at build time.
constexpr discord::ClientId clientId = 1'180'424'242'424'242'424;

// Without the SDK's wait handle a pass sleeps this long, as the loop always
// did: the stop flag and the invite request are seen within it.
constexpr std::chrono::milliseconds plainSleep{1};

// With the handles a pass waits for work, but never longer than this: work
// no handle shows (the router's port mapping, which RunCallbacks takes up)
// waits no longer, and an idle run wakes about once a second.
constexpr std::chrono::milliseconds longestWait{1000};

} // namespace

NetworkRun::NetworkRun(Vpn& vpn)
    : vpn(vpn), nextAddress(vpn.configuredHostAddress()),
      discovery(Discovery::readSetting(std::getenv(lanDiscoveryVariable)).value_or(true)) {}

NetworkRun::~NetworkRun() {
    // Destroying the core leaves the lobby and drops every subscription;
    // only then does the adapter go, taking its address with it.
    core.reset();
    routeText.clear();
    knownPeers.clear();
    adapter.reset();
}

void NetworkRun::failRun(const char* text) {
    vpn.fail(text);
}

void NetworkRun::run() {
    if (!readDiscoverySetting() || !createCore())
        return;
    core->NetworkManager().GetPeerId(&ownPeerId);
    activity = discord::Activity();
    activity.SetApplicationId(clientId);
    subscribe();
    if (vpn.isHostRun())
        requestHostLobby();

    while (!vpn.stopRequested())
        pass();
}

bool NetworkRun::createCore() {
    discord::Core* created = nullptr;
    const discord::Result result = discord::Core::Create(
        clientId, static_cast<std::uint64_t>(discord::CreateFlags::NoRequireDiscord), &created);
    if (result != discord::Result::Ok || !created) {
        vpn.fail("Cannot instantiate discord service. Make sure discord is running.");
        return false;
    }
    core.reset(created);
    return true;
}

void NetworkRun::subscribe() {
    discord::LobbyManager& lobbies = core->LobbyManager();
    core->NetworkManager().OnRouteUpdate.Connect(guarded(&NetworkRun::onRouteUpdate));
    core->NetworkManager().OnMessage.Connect(guarded(&NetworkRun::onPeerMessage));
    lobbies.OnLobbyDelete.Connect(guarded(&NetworkRun::onLobbyDeleteStop));
    lobbies.OnMemberDisconnect.Connect(guarded(&NetworkRun::onMemberDisconnect));
    lobbies.OnMemberConnect.Connect(guarded(&NetworkRun::onMemberConnect));
    lobbies.OnLobbyDelete.Connect(guarded(&NetworkRun::onLobbyDeleteReport));
    lobbies.OnMemberUpdate.Connect(guarded(&NetworkRun::onMemberUpdate));
    core->UserManager().OnCurrentUserUpdate.Connect(guarded(&NetworkRun::onCurrentUserUpdate));
    core->ActivityManager().OnActivityJoin.Connect(guarded(&NetworkRun::onActivityJoin));
}

void NetworkRun::requestHostLobby() {
    discord::LobbyManager& lobbies = core->LobbyManager();
    discord::LobbyTransaction transaction;
    lobbies.GetLobbyCreateTransaction(&transaction);
    transaction.SetCapacity(peer::lobbyCapacity);
    transaction.SetType(discord::LobbyType::Private);
    lobbies.CreateLobby(transaction, guarded(&NetworkRun::onLobbyCreated));
}

// The wait opens the pass, so that what the pass's callbacks queued (the
// acknowledgements, the forwarding) goes out before the next wait.
void NetworkRun::pass() {
    waitForWork();
    core->RunCallbacks();
    if (!connected || !adapter)
        return;
    if (vpn.takeInviteRequest())
        core->OverlayManager().OpenActivityInvite(discord::ActivityActionType::Join,
                                                  [](discord::Result) {});
    try {
        copyLanDiscovery();
        forwardOutbound();
    } catch (const AdapterRemoved& removed) {
        // Its wait handle stays ready: the run ends here rather than spin.
        failRun(removed.what());
        return;
    }
    core->NetworkManager().Flush();
}

// Waits instead of sleeping: a packet from the adapter, work for the SDK (its
// timers included) or the stop flag and an invite request set by the window's
// thread end the wait at once, and an idle run sleeps. An SDK without a wait
// handle keeps the plain sleep.
void NetworkRun::waitForWork() {
    discord::WaitHandle sdkHandle{};
    if (core->GetWaitHandle(&sdkHandle) != discord::Result::Ok) {
        std::this_thread::sleep_for(plainSleep);
        return;
    }
    const std::array<WaitableHandle, 4> handles{
        vpn.wakeHandle(), waitableOf(sdkHandle),
        connected && adapter ? waitableOf(adapter->readWaitHandle()) : nullptr,
        discovery.readyHandle()};
    waitForAny(handles, longestWait);
    vpn.clearWake();
}
