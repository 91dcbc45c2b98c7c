#include "vpn/UnicastRoutes.h"

#include <cstring>

namespace {

unsigned firstOctet(std::uint32_t address) {
    unsigned char octets[4];
    std::memcpy(octets, &address, sizeof octets);
    return octets[0];
}

} // namespace

bool UnicastRoutes::isGroupAddress(std::uint32_t address) const {
    if (address == 0 || address == 0xffffffffu)
        return true;
    const unsigned first = firstOctet(address);
    if (first >= 224 && first <= 239) // multicast
        return true;
    if (localNetwork && localNetwork->prefix < 31) {
        const std::uint32_t mask = localNetwork->netmask();
        const bool inNetwork = (address & mask) == (localNetwork->address & mask);
        if (inNetwork && (address | mask) == 0xffffffffu) // the directed broadcast
            return true;
    }
    return false;
}

void UnicastRoutes::assign(std::uint32_t address, std::uint64_t peerId) {
    if (isGroupAddress(address))
        return;
    if (auto known = owners.find(address); known != owners.end()) {
        known->second = peerId;
        return;
    }
    if (owners.size() < maxEntries)
        owners.emplace(address, peerId);
}

std::optional<std::uint64_t> UnicastRoutes::ownerOf(std::uint32_t destination) const {
    if (isGroupAddress(destination))
        return std::nullopt;
    if (auto known = owners.find(destination); known != owners.end())
        return known->second;
    return std::nullopt;
}
