#include "vpn/NetworkRun.h"

#include "platform/Wait.h"
#include "vpn/PeerProtocol.h"
#include "vpn/Vpn.h"

#include <array>
#include <chrono>
#include <thread>

namespace {

// The application's client id at the game platform, fixed at build time.
constexpr discord::ClientId clientId = 1'180'424'242'424'242'424;

// The longest a pass waits: the stop flag and the invite request, set by
// another thread, are seen within it.
constexpr std::chrono::milliseconds passWait{1};

} // namespace

NetworkRun::NetworkRun(Vpn& vpn) : vpn(vpn), nextAddress(vpn.configuredHostAddress()) {}

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
    if (!createCore())
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

void NetworkRun::pass() {
    core->RunCallbacks();
    waitForWork();
    if (!connected || !adapter)
        return;
    if (vpn.takeInviteRequest())
        core->OverlayManager().OpenActivityInvite(discord::ActivityActionType::Join,
                                                  [](discord::Result) {});
    forwardOutbound();
    core->NetworkManager().Flush();
}

// Waits instead of sleeping: a packet from the adapter or work for the SDK
// ends the wait at once, so a packet no longer waits up to a millisecond on
// each side; an idle run still sleeps. An SDK without a wait handle keeps the
// plain sleep.
void NetworkRun::waitForWork() {
    discord::WaitHandle sdkHandle{};
    if (core->GetWaitHandle(&sdkHandle) != discord::Result::Ok) {
        std::this_thread::sleep_for(passWait);
        return;
    }
    const std::array<WaitableHandle, 2> handles{
        waitableOf(sdkHandle),
        connected && adapter ? waitableOf(adapter->readWaitHandle()) : nullptr};
    waitForAny(handles, passWait);
}
