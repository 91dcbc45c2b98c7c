#include "vpn/NetworkWorker.h"

#include "discord/Core.h"
#include "vpn/Vpn.h"

#include <chrono>
#include <exception>
#include <memory>
#include <thread>

namespace {

// The application's client id at the game platform, fixed at build time.
constexpr discord::ClientId clientId = 1'180'424'242'424'242'424;
constexpr std::uint64_t createNoRequireClient = 1; // DiscordCreateFlags_NoRequireDiscord

void runNetwork(Vpn& vpn) {
    discord::Core* created = nullptr;
    const discord::Result result = discord::Core::Create(clientId, createNoRequireClient, &created);
    if (result != discord::Result::Ok || !created) {
        vpn.fail("Cannot instantiate discord service. Make sure discord is running.");
        return;
    }
    const std::shared_ptr<discord::Core> core(created);

    while (!vpn.stopRequested()) {
        core->RunCallbacks();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

} // namespace

void NetworkWorker(Vpn* vpn) {
    // Nothing may leave the worker thread: a failure without a handler of its
    // own becomes the run's error, and the run stops.
    try {
        runNetwork(*vpn);
    } catch (const std::exception& error) {
        vpn->fail(error.what());
    } catch (...) {
        vpn->fail("The network worker stopped after an unexpected failure.");
    }
}
