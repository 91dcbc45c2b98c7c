#pragma once

// The machine's interfaces as the system lists them now: each one's IPv4
// addresses, link type and state, by interface index.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>

struct InterfaceView {
    struct Interface {
        std::set<std::uint32_t> addresses; // network byte order
        // ARPHRD_NONE until a link address says otherwise: a TUN interface
        // has none.
        unsigned short linkType = 0xfffe;
        bool up = false;
        bool loopback = false;
    };
    std::map<std::uint32_t, Interface> interfaces;

    static InterfaceView read();

    // The interface that holds address.
    std::optional<std::uint32_t> indexOf(std::uint32_t address) const;
    // Up, not loopback: a LAN's interface.
    bool isLan(std::uint32_t index) const;
    bool isEthernet(std::uint32_t index) const;

    // A packet that left through interface index was sent by a local program
    // for that interface, not passed on for another (a bridge's ports,
    // forwarding): its source is an address of that very interface.
    bool sentFrom(std::uint32_t index, std::span<const std::uint8_t> packet) const;
};
