#pragma once

#include "adapter/Ipv4Cidr.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>

// Which member owns which address, as the host assigned them. A packet to an
// assigned address goes to its owner alone; broadcast, multicast and unknown
// destinations go to every member. What a packet says about its own source
// never changes the table: any member can write any source address.
class UnicastRoutes {
public:
    // Addresses are in network byte order. A later assignment of the same
    // address replaces the earlier one.
    void assign(std::uint32_t address, std::uint64_t peerId);
    std::optional<std::uint64_t> ownerOf(std::uint32_t destination) const;

    // The network the local adapter is in, for its directed broadcast.
    void setLocalNetwork(const Ipv4Cidr& network) { localNetwork = network; }

    // Only the host fills the table, but it stays bounded all the same.
    static constexpr std::size_t maxEntries = 4096;

private:
    bool isGroupAddress(std::uint32_t address) const;

    std::unordered_map<std::uint32_t, std::uint64_t> owners;
    std::optional<Ipv4Cidr> localNetwork;
};
