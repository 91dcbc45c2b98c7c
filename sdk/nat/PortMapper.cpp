#include "sdk/nat/PortMapper.h"

#include <algorithm>

namespace sdk::nat {

namespace {
constexpr std::uint64_t present = std::uint64_t{1} << 48;
}

PortMapper::PortMapper(std::uint16_t port, PortMapperTimes times)
    : port(port), times(times), thread([this](std::stop_token stop) { run(stop); }) {}

// The thread stops (a pause ends at the stop request) and takes the mapping
// back before it is joined.
PortMapper::~PortMapper() = default;

std::optional<os::Endpoint> PortMapper::mapped() const {
    const auto value = current.load(std::memory_order_acquire);
    if ((value & present) == 0)
        return std::nullopt;
    return os::Endpoint{static_cast<std::uint32_t>(value >> 16), static_cast<std::uint16_t>(value)};
}

void PortMapper::publish(std::optional<os::Endpoint> endpoint) {
    const std::uint64_t value =
        endpoint ? present | std::uint64_t{endpoint->ipv4()} << 16 | endpoint->port : 0;
    current.store(value, std::memory_order_release);
    changeCount.fetch_add(1, std::memory_order_acq_rel);
}

bool PortMapper::pause(const std::stop_token& stop, std::chrono::seconds duration) {
    std::unique_lock lock(pauseMutex);
    return !pauseSignal.wait_for(lock, stop, duration, [] { return false; });
}

void PortMapper::run(std::stop_token stop) {
    std::unique_ptr<Gateway> gateway;
    std::optional<Mapping> mapping;
    while (!stop.stop_requested()) {
        if (!gateway) {
            gateway = findUpnpGateway(times.discovery);
            if (!gateway && !stop.stop_requested())
                gateway = openNatPmpGateway();
        }
        std::optional<Mapping> renewed;
        if (gateway && !stop.stop_requested())
            renewed = gateway->map(port, times.lease, stop);
        if (renewed && !isPublicAddress(renewed->external.ipv4())) {
            // Behind a second translation (or carrier-grade): nobody outside
            // could use it. Take it back and offer nothing.
            gateway->unmap(port, *renewed);
            renewed.reset();
        }
        if (!renewed) {
            // Stopped while asking: what the router still holds is taken back below.
            if (stop.stop_requested())
                break;
            // The router may have restarted, or another one took its place.
            gateway.reset();
            mapping.reset();
            if (mapped())
                publish(std::nullopt);
            firstAttemptOver.store(true, std::memory_order_release);
            if (!pause(stop, times.retry))
                break;
            continue;
        }
        mapping = renewed;
        publish(mapping->external);
        firstAttemptOver.store(true, std::memory_order_release);
        // Renew at half the lifetime; a permanent one is checked as often
        // as a lease would be.
        const auto lifetime = mapping->lifetime.count() > 0 ? mapping->lifetime : times.lease;
        if (!pause(stop, std::max(lifetime / 2, std::chrono::seconds(1))))
            break;
    }
    firstAttemptOver.store(true, std::memory_order_release);
    if (gateway && mapping)
        gateway->unmap(port, *mapping);
}

bool isPublicAddress(std::uint32_t address) {
    const auto in = [address](std::uint32_t network, int bits) {
        return (address >> (32 - bits)) == (network >> (32 - bits));
    };
    return !(in(0x00000000, 8) || in(0x0a000000, 8) || in(0x64400000, 10) || in(0x7f000000, 8) ||
             in(0xa9fe0000, 16) || in(0xac100000, 12) || in(0xc0a80000, 16) ||
             address >= 0xe0000000);
}

} // namespace sdk::nat
