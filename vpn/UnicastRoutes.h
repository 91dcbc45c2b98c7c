#pragma once

#include "adapter/Ipv4Cidr.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>

// Which member owns which address, learned from the source addresses of the
// packets that each member's messages carry. A packet to a learned address
// goes to its owner alone; broadcast, multicast and unknown destinations go
// to every member.
class UnicastRoutes {
public:
    // Addresses are in network byte order.
    void learn(std::uint32_t source, std::uint64_t peerId);
    std::optional<std::uint64_t> ownerOf(std::uint32_t destination) const;

    // The network the local adapter is in, for its directed broadcast.
    void setLocalNetwork(const Ipv4Cidr& network) { localNetwork = network; }

    // A member can send any source address: the table stays bounded.
    static constexpr std::size_t maxEntries = 4096;

private:
    bool isGroupAddress(std::uint32_t address) const;

    std::unordered_map<std::uint32_t, std::uint64_t> owners;
    std::optional<Ipv4Cidr> localNetwork;
};
