#pragma once

// Where LAN discovery's tap (LanTap.h) is held: in this process when it may
// open one, else in the LAN helper (vpn/lan-helper/), a small program that
// alone holds CAP_NET_RAW, checks every copy it is asked to send and hands
// over only what local programs sent as discovery datagrams.

#include "platform/LanSide.h"
#include "platform/linux/LanTap.h"

#include <memory>

class LanChannel {
public:
    virtual ~LanChannel() = default;

    // Ready while a packet waits; null once the channel can bring none.
    virtual WaitableHandle readyHandle() const = 0;
    // As LanTap::receive.
    virtual std::optional<LanTap::Sent> receive(std::span<std::uint8_t> buffer) = 0;
    // Puts a discovery datagram on the LAN interface. Returns 0 or an errno
    // value; through the helper, 0 means it was handed over.
    virtual int send(std::span<const std::uint8_t> packet, std::uint32_t interfaceIndex,
                     bool ethernet) = 0;
};

// Starts the LAN helper; null with the reason in error when there is none
// or it may not watch either.
std::unique_ptr<LanChannel> openHelperChannel(LanSideError& error);
