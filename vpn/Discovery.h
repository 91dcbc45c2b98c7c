#pragma once

// LAN discovery across the VPN: what local programs send as a limited
// broadcast or to a multicast group reaches the members and the physical LAN
// alike, whichever of the two the system sent it to. Copies into the VPN
// carry this machine's VPN address as their source, copies out to the LAN
// its LAN address, so that answers come back the way the copy went. Nothing
// that came from the VPN is copied anywhere, and each direction is bounded.

#include "platform/LanSide.h"
#include "vpn/DiscoveryPackets.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The setting's name in the environment.
constexpr const char* lanDiscoveryVariable = "VASKOR_LAN_DISCOVERY";

class Discovery {
public:
    using Clock = std::chrono::steady_clock;

    // The setting: VASKOR_LAN_DISCOVERY in the environment, on unless it says
    // 0, no, off or false. Nothing for any other value.
    static std::optional<bool> readSetting(const char* value);

    explicit Discovery(bool enabled) : enabled(enabled) {}

    // Once the adapter has its address (again): starts watching the LAN.
    // Why when that is not possible; the VPN then works as without.
    std::optional<LanSideError> start(std::uint32_t vpnAddress);
    bool active() const { return lan != nullptr; }

    WaitableHandle readyHandle() const { return lan ? lan->readyHandle() : nullptr; }

    // A packet the adapter gave: false when it must not go to the members
    // (a discovery datagram over the bound, or one they already have). A
    // discovery datagram of this machine's own is copied out to the LAN.
    bool fromAdapter(std::span<const std::uint8_t> packet, Clock::time_point now = Clock::now());

    // The next copy for the members of what a local program sent on the LAN;
    // empty when none waits. Looks at the interfaces again once a second.
    std::vector<std::uint8_t> nextForMembers(Clock::time_point now = Clock::now());

private:
    const bool enabled;
    std::unique_ptr<LanSide> lan;
    std::uint32_t vpnAddress = 0;
    Clock::time_point lastRefresh;
    discovery::TokenBucket intoVpn{discovery::Bound{}};
    discovery::TokenBucket toLan{discovery::Bound{}};
    discovery::RecentDatagrams sentToVpn;
    discovery::RecentDatagrams seenOnLan;
};
