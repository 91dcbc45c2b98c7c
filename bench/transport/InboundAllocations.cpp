// Heap allocations per packet on the SDK core's data path, in steady state:
// two cores on loopback, one sends unreliable 1400-byte messages, the other
// takes them in RunCallbacks. Counts every operator new of the process while
// each side works, so the figure includes the class layer and the handler
// (which copies nothing).
//
//   ./build/bench/transport/sdk_inbound_allocations

#include "discord/Core.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {
std::size_t allocations = 0;
} // namespace

void* operator new(std::size_t size) {
    ++allocations;
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}

namespace {

struct Side {
    std::unique_ptr<discord::Core> core;
    discord::NetworkPeerId peerId = 0;
    std::string route;
    std::size_t received = 0;
};

bool create(Side& side) {
    discord::Core* core = nullptr;
    if (discord::Core::Create(1, 1, &core) != discord::Result::Ok || !core)
        return false;
    side.core.reset(core);
    side.core->NetworkManager().GetPeerId(&side.peerId);
    side.core->NetworkManager().OnRouteUpdate.Connect(
        [&side](const char* route) { side.route = route; });
    side.core->NetworkManager().OnMessage.Connect([&side](discord::NetworkPeerId,
                                                          discord::NetworkChannelId, std::uint8_t*,
                                                          std::uint32_t) { ++side.received; });
    return true;
}

template <typename Done> bool pump(Side& a, Side& b, Done done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        a.core->RunCallbacks();
        b.core->RunCallbacks();
    }
    return true;
}

} // namespace

int main() {
    setenv("VASKOR_SDK_ADDRESSES", "127.0.0.1", 1);
    setenv("VASKOR_SDK_CLIENT", "0", 1);
    Side sender, receiver;
    const std::size_t beforeCreation = allocations;
    if (!create(sender) || !create(receiver)) {
        std::fprintf(stderr, "sdk_inbound_allocations: cannot create the SDK cores\n");
        return 1;
    }
    // Shows that the count reaches inside the SDK library.
    const std::size_t creationAllocations = allocations - beforeCreation;
    if (!pump(sender, receiver, [&] { return !sender.route.empty() && !receiver.route.empty(); }))
        return 1;
    for (Side* side : {&sender, &receiver}) {
        Side& other = side == &sender ? receiver : sender;
        side->core->NetworkManager().OpenPeer(other.peerId, other.route.c_str());
        side->core->NetworkManager().OpenChannel(other.peerId, 0, false);
    }
    const std::vector<std::uint8_t> packet(1400, 0x45);
    auto& network = sender.core->NetworkManager();
    const auto connected = [&] {
        network.SendMessage(receiver.peerId, 0, packet.data(), packet.size());
        return receiver.received > 0;
    };
    if (!pump(sender, receiver, connected)) {
        std::fprintf(stderr, "sdk_inbound_allocations: the cores did not connect\n");
        return 1;
    }

    constexpr int burst = 64;
    constexpr int rounds = 200;
    std::size_t sendAllocations = 0, receiveAllocations = 0, delivered = 0, sent = 0;
    for (int round = 0; round < rounds + 10; ++round) {
        const std::size_t before = allocations;
        for (int i = 0; i < burst; ++i)
            if (network.SendMessage(receiver.peerId, 0, packet.data(), packet.size()) ==
                discord::Result::Ok)
                ++sent;
        network.Flush();
        const std::size_t afterSend = allocations;
        const std::size_t receivedBefore = receiver.received;
        receiver.core->RunCallbacks();
        const std::size_t afterReceive = allocations;
        if (round < 10) { // warm-up: buffers grow to their size
            sent = 0;
            continue;
        }
        sendAllocations += afterSend - before;
        receiveAllocations += afterReceive - afterSend;
        delivered += receiver.received - receivedBefore;
    }
    std::printf("SDK core allocations per 1400-byte packet, steady state (%zu sent, %zu taken):\n"
                "  sending (SendMessage, Flush): %.3f\n"
                "  receiving (RunCallbacks to OnMessage): %.3f\n"
                "  (for scale: creating the two cores took %zu)\n",
                sent, delivered, static_cast<double>(sendAllocations) / static_cast<double>(sent),
                delivered ? static_cast<double>(receiveAllocations) / static_cast<double>(delivered)
                          : 0.0,
                creationAllocations);
    return 0;
}
