// Reads a full lobby's member list the way the engine decides, for every
// packet, whether another member is there: MemberCount, then GetMemberUserId
// for each index. Reports the time per read and the allocations per read
// (which should be none).

#include "discord/Core.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <thread>
#include <vector>

namespace {

std::atomic<long> allocations{0};

} // namespace

// The replaced operators pair malloc with free; GCC cannot see that the
// memory it frees came from the replaced new.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
#pragma GCC diagnostic pop

namespace {

struct Lobby {
    std::vector<std::unique_ptr<discord::Core>> cores;
    discord::LobbyId id = 0;
    discord::UserId hostUser = 0;
};

void runAll(Lobby& lobby) {
    for (auto& core : lobby.cores)
        core->RunCallbacks();
    std::this_thread::sleep_for(std::chrono::microseconds(200));
}

// A host and seven members on loopback.
Lobby fullLobby() {
    setenv("VASKOR_SDK_ADDRESSES", "127.0.0.1", 1);
    setenv("VASKOR_SDK_CLIENT", "0", 1);
    Lobby lobby;
    for (int i = 0; i < 8; ++i) {
        discord::Core* core = nullptr;
        if (discord::Core::Create(1, 1, &core) != discord::Result::Ok) {
            std::fprintf(stderr, "cannot create a core\n");
            std::exit(1);
        }
        lobby.cores.emplace_back(core);
    }
    auto& host = *lobby.cores[0];
    discord::LobbyTransaction transaction;
    host.LobbyManager().GetLobbyCreateTransaction(&transaction);
    transaction.SetCapacity(8);
    host.LobbyManager().CreateLobby(transaction, [&](discord::Result, const discord::Lobby& made) {
        lobby.id = made.GetId();
        lobby.hostUser = made.GetOwnerId();
    });
    host.RunCallbacks();
    char secret[discordTextSize] = {};
    const long before = allocations.load();
    host.LobbyManager().GetLobbyActivitySecret(lobby.id, secret);
    // Making the secret allocates inside the library: proof that the count
    // sees the library's allocations too.
    if (allocations.load() == before) {
        std::fprintf(stderr, "allocations inside the SDK library are not counted\n");
        std::exit(1);
    }
    int connected = 0;
    for (int i = 1; i < 8; ++i)
        lobby.cores[i]->LobbyManager().ConnectLobbyWithActivitySecret(
            secret, [&](discord::Result result, const discord::Lobby&) {
                connected += result == discord::Result::Ok;
            });
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::int32_t count = 0;
    while ((connected < 7 || count < 8) && std::chrono::steady_clock::now() < end) {
        runAll(lobby);
        host.LobbyManager().MemberCount(lobby.id, &count);
    }
    if (count != 8) {
        std::fprintf(stderr, "the lobby did not fill (%d members)\n", count);
        std::exit(1);
    }
    return lobby;
}

void memberListRead(benchmark::State& state) {
    static Lobby lobby = fullLobby();
    auto& manager = lobby.cores[static_cast<std::size_t>(state.range(0))]->LobbyManager();
    discord::User self;
    lobby.cores[static_cast<std::size_t>(state.range(0))]->UserManager().GetCurrentUser(&self);
    const long before = allocations.load();
    for (auto _ : state) {
        std::int32_t count = 0;
        manager.MemberCount(lobby.id, &count);
        bool anotherMember = false;
        for (std::int32_t i = 0; i < count; ++i) {
            discord::UserId user = 0;
            manager.GetMemberUserId(lobby.id, i, &user);
            anotherMember |= user != self.GetId();
        }
        benchmark::DoNotOptimize(anotherMember);
    }
    state.counters["allocations_per_read"] = benchmark::Counter(
        static_cast<double>(allocations.load() - before), benchmark::Counter::kAvgIterations);
    state.SetLabel(state.range(0) == 0 ? "host" : "member");
}

BENCHMARK(memberListRead)->Arg(0)->Arg(7);

} // namespace

BENCHMARK_MAIN();
