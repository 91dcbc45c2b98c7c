#pragma once

#include "adapter/Ipv4Cidr.h"
#include "platform/WakeEvent.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

// One run: hosting, or being a member of someone else's network. Constructing
// it starts the worker thread; the window reads the run's state through the
// operations below and the worker reports into it. Shared by the two threads.
class Vpn {
public:
    explicit Vpn(Ipv4Cidr hostAddress); // a host run
    Vpn();                              // a member run
    ~Vpn();                             // stops the run and joins the worker

    Vpn(const Vpn&) = delete;
    Vpn& operator=(const Vpn&) = delete;

    // For the window. Each pending item is returned once.
    std::optional<std::runtime_error> takeError();
    std::optional<std::string> takeMessage();
    std::optional<Ipv4Cidr> address() const;
    std::uint64_t sentBytes() const { return bytesSent.load(); }
    std::uint64_t receivedBytes() const { return bytesReceived.load(); }
    void requestInvite();

    // For the worker.
    void fail(const std::string& text); // stores the error, then stops the run
    void requestStop();
    void postMessage(const std::string& text);
    void setOwnAddress(const Ipv4Cidr& address);
    void addSent(std::uint64_t bytes) { bytesSent.fetch_add(bytes); }
    void addReceived(std::uint64_t bytes) { bytesReceived.fetch_add(bytes); }
    bool stopRequested() const { return stopFlag.load(); }
    bool isHostRun() const { return isHost; }
    const Ipv4Cidr& configuredHostAddress() const { return hostAddress; }
    // True once per request of the window.
    bool takeInviteRequest() { return inviteRequested.exchange(false); }
    // Ready once the stop flag or an invite request was set since the last
    // clearWake, so that the worker's wait ends at once.
    WaitableHandle wakeHandle() const { return wakeEvent.handle(); }
    void clearWake() { wakeEvent.clear(); }

private:
    WakeEvent wakeEvent; // first: the worker waits on it from its first pass
    std::thread workerThread;
    std::atomic<bool> stopFlag = false;
    mutable std::mutex mutex; // guards ownAddress, pendingError, pendingMessage
    const Ipv4Cidr hostAddress;
    std::optional<Ipv4Cidr> ownAddress;
    std::optional<std::runtime_error> pendingError;
    std::optional<std::string> pendingMessage;
    const bool isHost;
    std::atomic<bool> inviteRequested = false;
    std::atomic<std::uint64_t> bytesSent = 0;
    std::atomic<std::uint64_t> bytesReceived = 0;
};
