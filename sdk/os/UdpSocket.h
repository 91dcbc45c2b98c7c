#pragma once

// The core's one UDP socket: bound on every IPv4 and IPv6 address (IPv4 only
// where the machine has no IPv6), 4 MiB buffers,
// sends that wait for buffer space, receives that never wait.

#include "sdk/os/Endpoint.h"
#include "sdk/os/Handle.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace sdk::os {

class UdpSocket {
public:
    static constexpr int bufferSize = 4 * 1024 * 1024;

    // Throws std::runtime_error with the reason when the port cannot be had.
    explicit UdpSocket(std::uint16_t port);
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    std::uint16_t port() const { return boundPort; }
    // Readable when a datagram waits; for a caller that sleeps until then.
    Handle waitDescriptor() const { return descriptor; }
    bool sendTo(const Endpoint& to, std::span<const std::uint8_t> datagram);
    // The size of the next waiting datagram (cut to the buffer), or nothing.
    std::optional<std::size_t> receive(std::span<std::uint8_t> buffer, Endpoint& from);

private:
    Handle descriptor = noHandle;
    std::uint16_t boundPort = 0;
    bool dualStack = false;
};

} // namespace sdk::os
