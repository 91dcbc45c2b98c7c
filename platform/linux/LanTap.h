#pragma once

// The packet socket of LAN discovery: it sees what this machine's programs
// send as UDP to a limited broadcast or a multicast group, on any interface,
// and puts copies onto a LAN past the machine's own stack. Opening it needs
// CAP_NET_RAW; using it afterwards does not.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

class LanTap {
public:
    // A discovery datagram is small; anything longer is not one and is cut.
    static constexpr std::size_t largestPacket = 2048;

    // The tap, or nullopt with the system's error code in error.
    static std::optional<LanTap> open(int& error);
    LanTap(LanTap&& other) noexcept : descriptor(other.descriptor) { other.descriptor = -1; }
    LanTap& operator=(LanTap&&) = delete;
    ~LanTap();

    int handle() const { return descriptor; }

    struct Sent {
        std::uint32_t interfaceIndex = 0;
        std::size_t size = 0;
    };
    // The next packet this machine sent on an interface other than loopback,
    // into buffer (cut to its size); nullopt when none waits. What the tap
    // sent itself never comes back here.
    std::optional<Sent> receive(std::span<std::uint8_t> buffer);

    // Sends an IPv4 packet on the interface as a link-layer broadcast or
    // multicast (after its destination). Returns 0 or the system's error code.
    int send(std::span<const std::uint8_t> packet, std::uint32_t interfaceIndex, bool ethernet);

private:
    explicit LanTap(int descriptor) : descriptor(descriptor) {}
    int descriptor;
};
