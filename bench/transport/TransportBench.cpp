// Our transport against raw UDP on the same veth link between two network
// namespaces, in the same run: unreliable messages per second and Mbit/s at
// the highest rate with less than 1% loss (64 and 1400 bytes), and the round
// trip of a reliable 64-byte message. One thread on each side. Needs root.
//
//   sudo ./build/bench/transport/sdk_transport_bench [seconds per trial]

#include "tests/support/TestMachines.h"

#include "discord/Core.h"
#include "sdk/transport/Aead.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace std::chrono;
using testsupport::TestMachines;

namespace {

double trialSeconds = 0.5;

template <typename F> auto inNamespace(const std::string& name, F f) {
    decltype(f()) result{};
    std::thread thread([&] {
        TestMachines::enter(name);
        result = f();
    });
    thread.join();
    return result;
}

void putTrial(std::uint8_t* bytes, std::uint32_t trial) {
    std::memcpy(bytes, &trial, 4);
}
std::uint32_t trialOf(const std::uint8_t* bytes) {
    std::uint32_t trial;
    std::memcpy(&trial, bytes, 4);
    return trial;
}

// One side of a link under test: send one message, and run the receive side
// on its own thread while a flag is up.
class Link {
public:
    virtual ~Link() = default;
    virtual void sendUnreliable(const std::vector<std::uint8_t>& message) = 0;
    virtual void serviceSender() = 0;
    virtual void receiveWhile(const std::atomic<bool>& running,
                              const std::function<void(const std::uint8_t*, std::size_t)>& on) = 0;
    // Round trips of a 64-byte message echoed by the other side.
    virtual std::vector<double> roundTrips(int count) = 0;
};

int udpSocket(const std::string& address) {
    const int descriptor = socket(AF_INET, SOCK_DGRAM, 0);
    int size = 4 * 1024 * 1024;
    setsockopt(descriptor, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
    setsockopt(descriptor, SOL_SOCKET, SO_SNDBUFFORCE, &size, sizeof size);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, address.c_str(), &local.sin_addr);
    if (bind(descriptor, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        throw std::runtime_error("cannot bind a UDP socket");
    return descriptor;
}

sockaddr_in addressOf(int descriptor) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &length);
    return address;
}

class RawLink : public Link {
public:
    explicit RawLink(const TestMachines& spaces) {
        a = inNamespace(spaces.name(1), [] { return udpSocket(TestMachines::address(1)); });
        b = inNamespace(spaces.name(2), [] { return udpSocket(TestMachines::address(2)); });
        toB = addressOf(b);
        toA = addressOf(a);
    }
    ~RawLink() override {
        close(a);
        close(b);
    }

    void sendUnreliable(const std::vector<std::uint8_t>& message) override {
        sendto(a, message.data(), message.size(), 0, reinterpret_cast<sockaddr*>(&toB), sizeof toB);
    }
    void serviceSender() override {}

    void receiveWhile(const std::atomic<bool>& running,
                      const std::function<void(const std::uint8_t*, std::size_t)>& on) override {
        std::uint8_t buffer[2048];
        while (running) {
            const auto size = recv(b, buffer, sizeof buffer, MSG_DONTWAIT);
            if (size >= 0)
                on(buffer, static_cast<std::size_t>(size));
        }
    }

    std::vector<double> roundTrips(int count) override {
        std::atomic<bool> running{true};
        std::thread echo([&] {
            std::uint8_t buffer[2048];
            sockaddr_in from{};
            while (running) {
                socklen_t length = sizeof from;
                const auto size = recvfrom(b, buffer, sizeof buffer, MSG_DONTWAIT,
                                           reinterpret_cast<sockaddr*>(&from), &length);
                if (size > 0)
                    sendto(b, buffer, static_cast<std::size_t>(size), 0,
                           reinterpret_cast<sockaddr*>(&from), length);
            }
        });
        std::vector<double> times;
        std::vector<std::uint8_t> message(64, 1);
        std::uint8_t buffer[2048];
        for (int i = 0; i < count; ++i) {
            const auto start = steady_clock::now();
            sendto(a, message.data(), message.size(), 0, reinterpret_cast<sockaddr*>(&toB),
                   sizeof toB);
            while (recv(a, buffer, sizeof buffer, MSG_DONTWAIT) < 0) {
                if (steady_clock::now() - start > seconds(1))
                    break;
            }
            times.push_back(duration<double, std::micro>(steady_clock::now() - start).count());
        }
        running = false;
        echo.join();
        return times;
    }

private:
    int a = -1;
    int b = -1;
    sockaddr_in toB{};
    sockaddr_in toA{};
};

std::unique_ptr<discord::Core> coreIn(const std::string& space, const std::string& address) {
    return inNamespace(space, [&] {
        setenv("VASKOR_SDK_ADDRESSES", address.c_str(), 1);
        discord::Core* core = nullptr;
        if (discord::Core::Create(1, 1, &core) != discord::Result::Ok)
            throw std::runtime_error("cannot create an SDK core");
        return std::unique_ptr<discord::Core>(core);
    });
}

class SdkLink : public Link {
public:
    explicit SdkLink(const TestMachines& spaces) {
        a = coreIn(spaces.name(1), TestMachines::address(1));
        b = coreIn(spaces.name(2), TestMachines::address(2));
        std::string routeA, routeB;
        a->NetworkManager().OnRouteUpdate.Connect([&](const char* route) { routeA = route; });
        b->NetworkManager().OnRouteUpdate.Connect([&](const char* route) { routeB = route; });
        a->RunCallbacks();
        b->RunCallbacks();
        a->NetworkManager().GetPeerId(&peerA);
        b->NetworkManager().GetPeerId(&peerB);
        a->NetworkManager().OpenPeer(peerB, routeB.c_str());
        b->NetworkManager().OpenPeer(peerA, routeA.c_str());
        for (auto& [core, peer] : {std::pair{a.get(), peerB}, std::pair{b.get(), peerA}}) {
            core->NetworkManager().OpenChannel(peer, 0, false);
            core->NetworkManager().OpenChannel(peer, 1, true);
        }
        b->NetworkManager().OnMessage.Connect([this](discord::NetworkPeerId peer,
                                                     discord::NetworkChannelId channel,
                                                     std::uint8_t* data, std::uint32_t length) {
            if (channel == 0 && onB)
                onB(data, length);
            else if (channel == 1)
                b->NetworkManager().SendMessage(peer, 1, data, length);
        });
        a->NetworkManager().OnMessage.Connect([this](discord::NetworkPeerId,
                                                     discord::NetworkChannelId channel,
                                                     std::uint8_t*, std::uint32_t) {
            if (channel == 1)
                ++echoes;
        });
        // Connected once a reliable message has gone there and back.
        const std::uint8_t hello = 0;
        a->NetworkManager().SendMessage(peerB, 1, &hello, 1);
        const auto end = steady_clock::now() + seconds(5);
        while (echoes == 0 && steady_clock::now() < end) {
            a->RunCallbacks();
            b->RunCallbacks();
        }
        if (echoes == 0)
            throw std::runtime_error("the two cores did not connect");
    }

    void sendUnreliable(const std::vector<std::uint8_t>& message) override {
        a->NetworkManager().SendMessage(peerB, 0, message.data(),
                                        static_cast<std::uint32_t>(message.size()));
    }
    void serviceSender() override { a->RunCallbacks(); }

    void receiveWhile(const std::atomic<bool>& running,
                      const std::function<void(const std::uint8_t*, std::size_t)>& on) override {
        onB = on;
        while (running)
            b->RunCallbacks();
        onB = nullptr;
    }

    std::vector<double> roundTrips(int count) override {
        std::atomic<bool> running{true};
        std::thread echo([&] {
            while (running)
                b->RunCallbacks();
        });
        std::vector<double> times;
        std::vector<std::uint8_t> message(64, 1);
        for (int i = 0; i < count; ++i) {
            const int before = echoes;
            const auto start = steady_clock::now();
            a->NetworkManager().SendMessage(peerB, 1, message.data(), 64);
            while (echoes == before && steady_clock::now() - start < seconds(1))
                a->RunCallbacks();
            times.push_back(duration<double, std::micro>(steady_clock::now() - start).count());
        }
        running = false;
        echo.join();
        return times;
    }

private:
    std::unique_ptr<discord::Core> a;
    std::unique_ptr<discord::Core> b;
    discord::NetworkPeerId peerA = 0;
    discord::NetworkPeerId peerB = 0;
    std::function<void(const std::uint8_t*, std::size_t)> onB;
    int echoes = 0;
};

struct Trial {
    double sentPerSecond = 0;
    double deliveredPerSecond = 0;
    double loss = 0;
};

// Sends for one trial at a paced rate (0: as fast as possible).
Trial runTrial(Link& link, std::size_t size, double rate, std::uint32_t id) {
    std::atomic<bool> running{true};
    std::atomic<bool> listening{false};
    std::atomic<std::uint64_t> delivered{0};
    std::thread receiver([&] {
        listening = true;
        link.receiveWhile(running, [&](const std::uint8_t* data, std::size_t length) {
            if (length == size && trialOf(data) == id)
                delivered.fetch_add(1, std::memory_order_relaxed);
        });
    });
    while (!listening)
        std::this_thread::yield();
    std::vector<std::uint8_t> message(size, 0x42);
    putTrial(message.data(), id);
    std::uint64_t sent = 0;
    const auto start = steady_clock::now();
    const auto end = start + duration<double>(trialSeconds);
    while (true) {
        const auto now = steady_clock::now();
        if (now >= end)
            break;
        if (rate > 0 && sent >= rate * duration<double>(now - start).count())
            continue;
        link.sendUnreliable(message);
        if (++sent % 1024 == 0)
            link.serviceSender();
    }
    const double elapsed = duration<double>(steady_clock::now() - start).count();
    // Drained: everything arrived, or nothing more came for 50 ms (the rest
    // was lost), within a second.
    const auto drainEnd = steady_clock::now() + seconds(1);
    auto lastArrival = steady_clock::now();
    for (auto seen = delivered.load(); delivered < sent && steady_clock::now() < drainEnd;) {
        link.serviceSender();
        if (const auto now = delivered.load(); now != seen) {
            seen = now;
            lastArrival = steady_clock::now();
        } else if (steady_clock::now() - lastArrival > milliseconds(50)) {
            break;
        }
        std::this_thread::yield();
    }
    running = false;
    receiver.join();
    Trial trial;
    trial.sentPerSecond = static_cast<double>(sent) / elapsed;
    trial.deliveredPerSecond = static_cast<double>(delivered) / elapsed;
    trial.loss = sent ? 1.0 - static_cast<double>(delivered) / static_cast<double>(sent) : 1.0;
    return trial;
}

// The highest rate whose loss stays under 1%: flat out first, then slower.
Trial highestCleanRate(Link& link, std::size_t size, std::uint32_t& id) {
    Trial trial = runTrial(link, size, 0, ++id);
    double rate = std::min(trial.sentPerSecond, trial.deliveredPerSecond * 1.05);
    for (int step = 0; step < 20 && trial.loss >= 0.01; ++step) {
        trial = runTrial(link, size, rate, ++id);
        rate *= 0.93;
    }
    return trial;
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * (values.size() - 1))];
}

double mean(const std::vector<double>& values) {
    double sum = 0;
    for (double value : values)
        sum += value;
    return sum / values.size();
}

} // namespace

int main(int argc, char** argv) {
    if (geteuid() != 0) {
        std::fprintf(stderr, "sdk_transport_bench needs root (network namespaces)\n");
        return 1;
    }
    if (argc > 1)
        trialSeconds = std::atof(argv[1]);
    try {
        TestMachines spaces(2);
        RawLink raw(spaces);
        SdkLink sdk(spaces);
        const bool aes = std::getenv("VASKOR_SDK_CIPHER") == nullptr ||
                         std::string(std::getenv("VASKOR_SDK_CIPHER")) != "chacha20";
        std::printf("transport cipher: %s\n", aes && (sdk::transport::availableCiphers(true) & 2)
                                                  ? "AES-256-GCM"
                                                  : "ChaCha20-Poly1305");
        std::printf("%-22s %14s %10s %14s %10s %7s\n", "unreliable, <1% loss", "raw msg/s",
                    "raw Mbit/s", "sdk msg/s", "sdk Mbit/s", "ratio");
        std::uint32_t id = 0;
        for (const std::size_t size : {64, 1400}) {
            const Trial rawTrial = highestCleanRate(raw, size, id);
            const Trial sdkTrial = highestCleanRate(sdk, size, id);
            const auto mbits = [&](const Trial& t) {
                return t.deliveredPerSecond * size * 8 / 1e6;
            };
            std::printf("%-22s %14.0f %10.1f %14.0f %10.1f %7.2f\n",
                        (std::to_string(size) + "-byte messages").c_str(),
                        rawTrial.deliveredPerSecond, mbits(rawTrial), sdkTrial.deliveredPerSecond,
                        mbits(sdkTrial), sdkTrial.deliveredPerSecond / rawTrial.deliveredPerSecond);
            std::printf("%-22s %13.2f%% %10s %13.2f%%\n", "  loss at that rate",
                        rawTrial.loss * 100, "", sdkTrial.loss * 100);
        }
        const auto rawTimes = raw.roundTrips(20000);
        const auto sdkTimes = sdk.roundTrips(20000);
        std::printf("%-22s %14s %10s %14s %10s %7s\n", "64-byte round trip", "raw p50 us",
                    "raw mean", "sdk p50 us", "sdk mean", "diff");
        std::printf("%-22s %14.1f %10.1f %14.1f %10.1f %7.1f\n", "  (sdk: reliable)",
                    percentile(rawTimes, 0.5), mean(rawTimes), percentile(sdkTimes, 0.5),
                    mean(sdkTimes), percentile(sdkTimes, 0.5) - percentile(rawTimes, 0.5));
        std::printf("%-22s %14.1f %10s %14.1f\n", "  p99 us", percentile(rawTimes, 0.99), "",
                    percentile(sdkTimes, 0.99));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "sdk_transport_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}
