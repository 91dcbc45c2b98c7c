// Two members on a direct path against two members relayed by a host, between
// three network namespaces: round trip of small messages (one at a time) and
// throughput of 1400-byte unreliable messages (what the adapter sends). One
// thread drives all three transports, so the relayed figure includes the
// host's work on the same core. Root.
//
//   sudo ./build/bench/transport/sdk_relay_bench [seconds]

#include "tests/support/TestMachines.h"

#include "sdk/transport/Transport.h"

#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

using namespace sdk::transport;
using testsupport::TestMachines;
using Steady = std::chrono::steady_clock;

namespace {

constexpr Channel data{0, false};

class Counter : public TransportEvents {
public:
    void onMessage(PeerId, Channel, std::span<const std::uint8_t> bytes) override {
        ++messages;
        received += bytes.size();
        if (bytes.size() == 8)
            std::memcpy(&last, bytes.data(), 8);
    }
    void onRouteChanged(const std::string&) override {}
    std::size_t messages = 0;
    std::size_t received = 0;
    std::uint64_t last = 0;
};

struct Party {
    std::unique_ptr<Transport> transport;
    Counter events;
    void poll() { transport->poll(events); }
};

std::uint32_t addressOf(int machine) {
    return ntohl(inet_addr(TestMachines::address(machine).c_str()));
}

std::unique_ptr<Party> partyIn(const TestMachines& machines, int machine) {
    auto party = std::make_unique<Party>();
    party->transport = machines.inside(machine, [&] {
        TransportSettings settings;
        settings.announcedAddresses = {Endpoint{addressOf(machine), 0}};
        return std::make_unique<Transport>(settings);
    });
    return party;
}

std::string routeAt(const Transport& transport, Endpoint endpoint) {
    return formatRoute(Route{transport.publicKey(), {endpoint}});
}

struct Figures {
    double roundTripMs = 0;
    double megabitsPerSecond = 0;
    double lossPercent = 0;
};

Figures measure(Party& a, Party& b, Party& host, double seconds) {
    const auto pollAll = [&] {
        host.poll();
        a.poll();
        b.poll();
    };
    // Round trip: a sends, b answers, one at a time.
    constexpr int pings = 500;
    std::chrono::duration<double, std::milli> total{0};
    int answered = 0;
    for (std::uint64_t i = 1; i <= pings; ++i) {
        std::uint8_t bytes[8];
        std::memcpy(bytes, &i, 8);
        const auto sentAt = Steady::now();
        a.transport->send(b.transport->peerId(), data, bytes);
        const auto giveUp = sentAt + std::chrono::seconds(1);
        std::uint64_t echoed = 0;
        while (a.events.last != i && Steady::now() < giveUp) {
            pollAll();
            if (b.events.last != echoed) {
                echoed = b.events.last;
                std::uint8_t back[8];
                std::memcpy(back, &echoed, 8);
                b.transport->send(a.transport->peerId(), data, back);
            }
        }
        if (a.events.last == i) {
            total += Steady::now() - sentAt;
            ++answered;
        }
    }
    // Throughput: bursts of 1400-byte messages from a to b.
    const std::vector<std::uint8_t> packet(1400, 0x5a);
    const std::size_t before = b.events.received;
    const std::size_t messagesBefore = b.events.messages;
    std::size_t sent = 0;
    const auto start = Steady::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    while (Steady::now() < end) {
        for (int i = 0; i < 32; ++i)
            if (a.transport->send(b.transport->peerId(), data, packet) == TransportStatus::ok)
                ++sent;
        pollAll();
    }
    // Drained: everything arrived, or nothing more came for 50 ms (the rest
    // was lost), within a second.
    const auto drainEnd = Steady::now() + std::chrono::seconds(1);
    auto lastArrival = Steady::now();
    for (auto seen = b.events.messages;
         b.events.messages - messagesBefore < sent && Steady::now() < drainEnd;) {
        pollAll();
        if (b.events.messages != seen) {
            seen = b.events.messages;
            lastArrival = Steady::now();
        } else if (Steady::now() - lastArrival > std::chrono::milliseconds(50)) {
            break;
        }
    }
    const double took = std::chrono::duration<double>(end - start).count();
    Figures figures;
    figures.roundTripMs = answered ? total.count() / answered : 0;
    figures.megabitsPerSecond = (b.events.received - before) * 8.0 / took / 1e6;
    const std::size_t arrived = b.events.messages - messagesBefore;
    figures.lossPercent = sent ? 100.0 * (1.0 - static_cast<double>(arrived) / sent) : 0;
    return figures;
}

bool connect(Party& a, Party& b, Party& host, bool relayed) {
    const auto until = Steady::now() + std::chrono::seconds(10);
    while (Steady::now() < until) {
        host.poll();
        a.poll();
        b.poll();
        const auto path = a.transport->pathOf(b.transport->peerId());
        const auto back = b.transport->pathOf(a.transport->peerId());
        if (path && back && path->connected && back->connected && path->relayed == relayed &&
            back->relayed == relayed)
            return true;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    TestMachines machines(3);
    if (!machines.ready) {
        std::fprintf(stderr, "cannot make the test machines (root needed)\n");
        return 1;
    }
    auto host = partyIn(machines, 1);
    std::printf("path      round trip (500 x 8 bytes)   throughput (1400-byte messages)   lost\n");
    for (const bool relayed : {false, true}) {
        auto a = partyIn(machines, 2);
        auto b = partyIn(machines, 3);
        const PublicKey aKey = a->transport->publicKey();
        const PublicKey bKey = b->transport->publicKey();
        host->transport->setKeyFilter([&](const PublicKey& key) {
            return key == aKey || key == bKey ? KeyAccess::member : KeyAccess::refused;
        });
        // Relayed: the members' routes for each other lead nowhere.
        const Endpoint nowhere{addressOf(1) + 200, 9};
        for (const auto& [self, other] :
             {std::pair{a.get(), b.get()}, std::pair{b.get(), a.get()}}) {
            self->transport->openPeer(host->transport->peerId(), host->transport->route(),
                                      PeerUse::lobby);
            const Endpoint at =
                relayed ? nowhere
                        : Endpoint{addressOf(other == a.get() ? 2 : 3), other->transport->port()};
            self->transport->openPeer(other->transport->peerId(), routeAt(*other->transport, at));
            self->transport->openChannel(other->transport->peerId(), data, Reliability::unreliable);
        }
        if (!connect(*a, *b, *host, relayed)) {
            std::fprintf(stderr, "no %s path formed\n", relayed ? "relayed" : "direct");
            return 1;
        }
        const Figures figures = measure(*a, *b, *host, seconds);
        std::printf("%-9s %8.3f ms                  %8.0f Mbit/s                    %5.1f%%\n",
                    relayed ? "relayed" : "direct", figures.roundTripMs, figures.megabitsPerSecond,
                    figures.lossPercent);
        std::fflush(stdout);
    }
    return 0;
}
