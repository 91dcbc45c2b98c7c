#pragma once

// Port mapping for one core: on a thread of its own, asks the home router
// (UPnP IGD, then NAT-PMP) to forward the core's UDP port from its public
// address, renews the mapping before it lapses, looks again now and then when
// there is none, and takes it back when destroyed. The core reads the result
// without waiting; nothing here calls into the core.

#include "sdk/nat/Gateway.h"
#include "sdk/os/SocketLibrary.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace sdk::nat {

struct PortMapperTimes {
    std::chrono::milliseconds discovery{1000}; // SSDP answers awaited
    std::chrono::seconds lease{3600};          // asked of the router
    std::chrono::seconds retry{60};            // after no router or a refusal
};

class PortMapper {
public:
    PortMapper(std::uint16_t port, PortMapperTimes times = {});
    // Takes the mapping back. Waits for the thread: at most the discovery
    // time plus one exchange with the router (the libraries' own time-outs).
    ~PortMapper();
    PortMapper(const PortMapper&) = delete;
    PortMapper& operator=(const PortMapper&) = delete;

    // The public address and port peers may use now, if any.
    std::optional<os::Endpoint> mapped() const;
    // Grows each time the mapping is made, renewed or lost.
    std::uint64_t changes() const { return changeCount.load(std::memory_order_acquire); }
    // Whether the first attempt has ended, with a mapping or without.
    bool settled() const { return firstAttemptOver.load(std::memory_order_acquire); }

private:
    void run(std::stop_token stop);
    void publish(std::optional<os::Endpoint> endpoint);
    // False when asked to stop first.
    bool pause(const std::stop_token& stop, std::chrono::seconds duration);

    // First: held until the thread has taken the mapping back, whatever
    // became of the core's own socket meanwhile.
    os::SocketLibrary socketLibrary;
    std::uint16_t port;
    PortMapperTimes times;
    // 0, or 1 << 48 | address << 16 | port: read without a lock.
    std::atomic<std::uint64_t> current{0};
    std::atomic<std::uint64_t> changeCount{0};
    std::atomic<bool> firstAttemptOver{false};
    std::mutex pauseMutex;
    std::condition_variable_any pauseSignal;
    std::jthread thread; // last: starts once the rest exists
};

// Whether peers on the internet could reach an address: not private,
// shared (carrier-grade), loopback, link-local, multicast or unspecified.
bool isPublicAddress(std::uint32_t address);

} // namespace sdk::nat
