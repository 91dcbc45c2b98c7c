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
    stopFlag = true;
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
    stopFlag = true;
}

void Vpn::postMessage(const std::string& text) {
    std::lock_guard lock(mutex);
    pendingMessage = text;
}

void Vpn::setOwnAddress(const Ipv4Cidr& address) {
    std::lock_guard lock(mutex);
    ownAddress = address;
}
