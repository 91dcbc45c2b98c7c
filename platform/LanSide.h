#pragma once

// The physical side of LAN discovery: what local programs sent as discovery
// datagrams on the machine's other interfaces, a way to put copies on the LAN,
// and the multicast groups local programs listen to, mirrored onto the
// adapter so that the VPN's copies reach them too.

#include "platform/Wait.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Why the LAN side could not be opened.
struct LanSideError {
    std::string reason;
    // This process may not watch the LAN (the installed Linux program holds
    // no privilege): the VPN works as it would without LAN discovery.
    bool noRights = false;
};

class LanSide {
public:
    // The adapter is the interface that holds adapterAddress (network byte
    // order). Null with the reason in error when the system offers no way to
    // watch or send (no rights, not built for this system).
    static std::unique_ptr<LanSide> open(std::uint32_t adapterAddress, LanSideError& error);
    virtual ~LanSide() = default;

    // Ready while a datagram waits for receive.
    virtual WaitableHandle readyHandle() const = 0;

    // The next IPv4 packet a local program sent to a limited broadcast or a
    // multicast group on an interface other than the adapter, with an
    // address of that interface as its source; empty when none waits. What
    // this object sent itself never comes back here.
    virtual std::vector<std::uint8_t> receive() = 0;

    // The address (network byte order) of the interface the system sends a
    // multicast through when a program chooses none, unless that is the
    // adapter: where copies for the LAN go.
    virtual std::optional<std::uint32_t> lanAddress() const = 0;

    // Sends a packet, whose source is lanAddress(), on that interface as a
    // link-layer broadcast or multicast, past the machine's own stack: no
    // local socket sees it again. Returns 0 or the system's error code.
    virtual int sendToLan(std::span<const std::uint8_t> packet) = 0;

    // Looks at the interfaces and the groups local programs joined again:
    // called about once a second.
    virtual void refresh() = 0;
};
