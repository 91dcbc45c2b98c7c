#include "vpn/Vpn.h"

#include "vpn/NetworkWorker.h"

#include <utility>

Vpn::Vpn(Ipv4Cidr hostAddress) : hostAddress(hostAddress), isHost(true) {
    workerThread = std::thread(NetworkWorker, this); // last: the worker sees a complete run
}

Vpn::Vpn() : hostAddress(), isHost(false) {
    workerThread = std::thread(NetworkWorker, this);
}

Vpn::~Vpn() {
    requestStop();
    if (workerThread.joinable())
        workerThread.join();
}

std::optional<std::runtime_error> Vpn::takeError() {
    std::lock_guard lock(mutex);
    return std::exchange(pendingError, std::nullopt);
}

std::optional<std::string> Vpn::takeMessage() {
    std::lock_guard lock(mutex);
    return std::exchange(pendingMessage, std::nullopt);
}

std::optional<Ipv4Cidr> Vpn::address() const {
    std::lock_guard lock(mutex);
    return ownAddress;
}

void Vpn::fail(const std::string& text) {
    {
        std::lock_guard lock(mutex);
        pendingError.emplace(text);
    }
    requestStop();
}

// The flag first: the worker clears the wake before it looks at the flags.
void Vpn::requestStop() {
    stopFlag = true;
    wakeEvent.signal();
}

void Vpn::requestInvite() {
    inviteRequested = true;
    wakeEvent.signal();
}

void Vpn::postMessage(const std::string& text) {
    std::lock_guard lock(mutex);
    pendingMessage = text;
}

void Vpn::setOwnAddress(const Ipv4Cidr& address) {
    std::lock_guard lock(mutex);
    ownAddress = address;
}
