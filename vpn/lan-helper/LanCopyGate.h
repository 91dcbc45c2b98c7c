#pragma once

// What the LAN helper puts on the LAN for the program that started it. That
// program holds no privilege and may be anyone's: the helper sends only what
// it could have sent from a socket of its own. A discovery datagram
// (vpn/DiscoveryPackets.h) from an unprivileged port, whose source is an
// address of one of this machine's LAN interfaces, goes out on that
// interface, within the same bound as the run's own copies.

#include "platform/linux/InterfaceView.h"
#include "vpn/DiscoveryPackets.h"

#include <cstdint>
#include <span>

struct LanCopyTarget {
    std::uint32_t interfaceIndex = 0;
    bool ethernet = true;
};

class LanCopyGate {
public:
    using Clock = std::chrono::steady_clock;
    explicit LanCopyGate(Clock::time_point now = Clock::now()) : bound(discovery::Bound{}, now) {}

    // 0 and where the packet goes, or why it may not: EINVAL (not a
    // discovery datagram), EACCES (a privileged source port),
    // EADDRNOTAVAIL (no LAN interface of this machine holds the source),
    // EAGAIN (over the bound).
    int admit(std::span<const std::uint8_t> packet, const InterfaceView& view,
              LanCopyTarget& target, Clock::time_point now = Clock::now());

private:
    discovery::TokenBucket bound;
};
