// What one core sends to addresses that never proved themselves, per minute:
// peers whose routes name silent sockets on loopback, either published once
// (the schedule backs off and gives up) or republished with fresh endpoints
// every 100 ms (the unproven budget holds it); one such peer, then seven (a
// full lobby of eight with every other member lying). Each case runs for two
// periods: the first holds the budget's burst, the second is the steady
// state. No root.
//
//   ./build/bench/transport/sdk_unproven_bench [seconds per case, default 60]

#include "sdk/transport/Keys.h"
#include "sdk/transport/Transport.h"
#include "tests/support/TestUdpSocket.h"

#include <arpa/inet.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

using namespace sdk::transport;
using Steady = std::chrono::steady_clock;

namespace {

class Quiet : public TransportEvents {
public:
    void onMessage(PeerId, Channel, std::span<const std::uint8_t>) override {}
    void onRouteChanged(const std::string&) override {}
};

struct Liar {
    PublicKey key = KeyPair::generate().publicKey;
    std::vector<std::unique_ptr<testsupport::TestUdpSocket>> sockets; // two sets of 16
    bool second = false;

    Liar() {
        for (std::size_t i = 0; i < 2 * maxRouteEndpoints; ++i)
            sockets.push_back(std::make_unique<testsupport::TestUdpSocket>());
    }
    std::string route() {
        std::vector<Endpoint> endpoints;
        const std::size_t from = second ? maxRouteEndpoints : 0;
        for (std::size_t i = from; i < from + maxRouteEndpoints; ++i)
            endpoints.emplace_back(INADDR_LOOPBACK, sockets[i]->port());
        second = !second;
        return formatRoute(Route{key, endpoints});
    }
    std::size_t drain() {
        std::size_t count = 0;
        for (auto& socket : sockets)
            while (socket->receive())
                ++count;
        return count;
    }
};

struct Minutes {
    double first = 0;  // per minute over the first period
    double second = 0; // per minute over the second: the steady state
};

Minutes perMinute(std::size_t liars, bool churn, double seconds) {
    TransportSettings settings;
    settings.announcedAddresses = {Endpoint{INADDR_LOOPBACK, 0}};
    settings.peerTimeout = std::chrono::hours(1); // the peers stay for the whole run
    Transport core(settings);
    Quiet events;
    std::vector<std::unique_ptr<Liar>> peers;
    for (std::size_t i = 0; i < liars; ++i) {
        peers.push_back(std::make_unique<Liar>());
        core.openPeer(peerIdOf(peers.back()->key), peers.back()->route());
    }
    Minutes result;
    auto nextChurn = Steady::now();
    for (double* figure : {&result.first, &result.second}) {
        std::size_t heard = 0;
        const auto start = Steady::now();
        while (Steady::now() - start < std::chrono::duration<double>(seconds)) {
            if (churn && Steady::now() >= nextChurn) {
                nextChurn += std::chrono::milliseconds(100);
                for (auto& peer : peers)
                    core.updatePeer(peerIdOf(peer->key), peer->route());
            }
            core.poll(events);
            for (auto& peer : peers)
                heard += peer->drain();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const double elapsed = std::chrono::duration<double>(Steady::now() - start).count();
        *figure = static_cast<double>(heard) * 60.0 / elapsed;
    }
    return result;
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    std::printf("unproven budget: burst %.0f datagrams, then %.1f per second per peer\n",
                UnprovenBudget::burst, UnprovenBudget::perSecond);
    std::printf(
        "datagrams per minute to unproven addresses (first %.0f s, then the next %.0f s):\n",
        seconds, seconds);
    const struct {
        const char* what;
        std::size_t peers;
        bool churn;
    } cases[] = {
        {"1 peer, 16 silent endpoints published once", 1, false},
        {"1 peer, 16 fresh endpoints every 100 ms", 1, true},
        {"7 peers, 16 fresh endpoints each every 100 ms", 7, true},
    };
    for (const auto& c : cases) {
        const Minutes figures = perMinute(c.peers, c.churn, seconds);
        std::printf("  %-48s %8.1f %8.1f\n", c.what, figures.first, figures.second);
        std::fflush(stdout);
    }
    return 0;
}
