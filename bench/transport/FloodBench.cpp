// A stranger floods a host with initiations while a member pings it, between
// three network namespaces: for each flood rate, the member's pings lost and
// their average round trip. The stranger knows the host's public key (it is
// in every invitation), so its initiations pass the first cheap check: the
// worst case. One thread drives host and member; one thread floods. Root.
//
//   sudo ./build/bench/transport/sdk_flood_bench [seconds per rate]

#include "tests/support/TestMachines.h"

#include "sdk/transport/Handshake.h"
#include "sdk/transport/Transport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <thread>
#include <vector>

using namespace sdk::transport;
using testsupport::TestMachines;

namespace {

class Recorder : public TransportEvents {
public:
    void onMessage(PeerId, Channel, std::span<const std::uint8_t> bytes) override {
        messages.emplace_back(bytes.begin(), bytes.end());
    }
    void onRouteChanged(const std::string&) override {}
    std::vector<std::vector<std::uint8_t>> messages;
};

std::uint32_t addressOf(int machine) {
    return ntohl(inet_addr(TestMachines::address(machine).c_str()));
}

std::unique_ptr<Transport> transportIn(const TestMachines& machines, int machine) {
    return machines.inside(machine, [&] {
        TransportSettings settings;
        settings.announcedAddresses = {Endpoint{addressOf(machine), 0}};
        settings.keepAliveInterval = Milliseconds(200);
        return std::make_unique<Transport>(settings);
    });
}

// Sends one initiation that passes mac1 at a steady rate (0: not at all).
void flood(int descriptor, const std::vector<std::uint8_t>& datagram, const sockaddr_in& to,
           int perSecond, const std::atomic<bool>& stop, long& sent, double& took) {
    const auto start = std::chrono::steady_clock::now();
    while (!stop) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        while (perSecond > 0 && sent < static_cast<long>(seconds * perSecond) && !stop) {
            sendto(descriptor, datagram.data(), datagram.size(), 0,
                   reinterpret_cast<const sockaddr*>(&to), sizeof to);
            ++sent;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    TestMachines machines(3);
    if (!machines.ready) {
        std::fprintf(stderr, "cannot make the test machines (root needed)\n");
        return 1;
    }
    auto host = transportIn(machines, 1);
    auto member = transportIn(machines, 2);
    Recorder hostEvents;
    Recorder memberEvents;
    const auto memberKey = member->publicKey();
    host->setKeyFilter([&](const PublicKey& key) {
        return key == memberKey ? KeyAccess::member : KeyAccess::refused;
    });
    const Channel pings{0, false};
    member->openPeer(host->peerId(), host->route());
    member->openChannel(host->peerId(), pings, Reliability::unreliable);
    const auto connectBy = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!host->isConnected(member->peerId()) && std::chrono::steady_clock::now() < connectBy) {
        host->poll(hostEvents);
        member->poll(memberEvents);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (!host->isConnected(member->peerId())) {
        std::fprintf(stderr, "the member did not connect\n");
        return 1;
    }
    host->openChannel(member->peerId(), pings, Reliability::unreliable);

    const int descriptor =
        machines.inside(3, [] { return socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0); });
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(host->port());
    to.sin_addr.s_addr = htonl(addressOf(1));
    const KeyPair stranger = KeyPair::generate();
    const auto initiation = makeInitiation(stranger, host->publicKey(), 5, 1, 1, 3);

    std::printf("flood asked (/s)       sent (/s)     member pings  lost    average round trip\n");
    for (const int rate : {0, 10000, 30000, 100000, 300000, 1000000}) {
        std::atomic<bool> stop{false};
        long sent = 0;
        double took = 1;
        std::thread flooder(
            [&] { flood(descriptor, initiation.datagram, to, rate, stop, sent, took); });
        std::map<std::uint32_t, std::chrono::steady_clock::time_point> pending;
        std::uint32_t next = 0;
        std::size_t answered = 0;
        std::chrono::duration<double, std::milli> roundTrips{0};
        const auto start = std::chrono::steady_clock::now();
        auto nextPing = start;
        const auto end = start + std::chrono::duration<double>(seconds);
        // Pings every 10 ms; a pong later than a second counts as lost.
        while (std::chrono::steady_clock::now() < end + std::chrono::seconds(1)) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= nextPing && now < end) {
                std::uint8_t bytes[4];
                std::memcpy(bytes, &next, 4);
                if (member->send(host->peerId(), pings, bytes) == TransportStatus::ok)
                    pending[next] = now;
                ++next;
                nextPing += std::chrono::milliseconds(10);
            }
            host->poll(hostEvents);
            for (const auto& message : hostEvents.messages)
                host->send(member->peerId(), pings, message);
            hostEvents.messages.clear();
            member->poll(memberEvents);
            for (const auto& message : memberEvents.messages) {
                std::uint32_t id = 0;
                if (message.size() != 4)
                    continue;
                std::memcpy(&id, message.data(), 4);
                const auto found = pending.find(id);
                if (found == pending.end())
                    continue;
                const auto took = std::chrono::steady_clock::now() - found->second;
                if (took <= std::chrono::seconds(1)) {
                    ++answered;
                    roundTrips += took;
                }
                pending.erase(found);
            }
            memberEvents.messages.clear();
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        stop = true;
        flooder.join();
        const double lost = next == 0 ? 0 : 100.0 * (1.0 - static_cast<double>(answered) / next);
        std::printf("%-22d %-10.0f %5zu/%-6u  %5.1f%%  %.2f ms\n", rate, sent / took, answered,
                    next, lost, answered ? roundTrips.count() / answered : 0.0);
        std::fflush(stdout);
    }
    close(descriptor);
    return 0;
}
