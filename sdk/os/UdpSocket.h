#pragma once

// The core's one UDP socket: bound on every IPv4 and IPv6 address (IPv4 only
// where the machine has no IPv6), 4 MiB buffers,
// sends that wait for buffer space, receives that never wait.

#include "sdk/os/Endpoint.h"
#include "sdk/os/Handle.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sdk::os {

// At most this many datagrams leave or arrive in one system call.
constexpr std::size_t datagramBatchSize = 64;

// Datagrams taken in at once: each in its own slot, cut to the slot's size.
class ReceivedBatch {
public:
    explicit ReceivedBatch(std::size_t slotSize)
        : slot(slotSize), bytes(slotSize * datagramBatchSize) {}

    std::size_t count() const { return filled; }
    std::span<const std::uint8_t> datagram(std::size_t i) const {
        return std::span(bytes).subspan(i * slot, sizes[i]);
    }
    const Endpoint& source(std::size_t i) const { return sources[i]; }

    // For the socket that fills it.
    std::size_t slotSize() const { return slot; }
    std::uint8_t* slotAt(std::size_t i) { return bytes.data() + i * slot; }
    void set(std::size_t i, std::size_t size, const Endpoint& from) {
        sizes[i] = size;
        sources[i] = from;
    }
    void setCount(std::size_t n) { filled = n; }

private:
    std::size_t slot;
    std::vector<std::uint8_t> bytes;
    std::array<std::size_t, datagramBatchSize> sizes{};
    std::array<Endpoint, datagramBatchSize> sources{};
    std::size_t filled = 0;
};

class UdpSocket {
public:
    static constexpr int bufferSize = 4 * 1024 * 1024;
    // Bytes the send queue holds before it leaves by itself.
    static constexpr std::size_t queueBytes = 256 * 1024;

    // Throws std::runtime_error with the reason when the port cannot be had.
    // batched: many datagrams per system call where the system offers it;
    // otherwise one call for each (the same datagrams on the wire).
    explicit UdpSocket(std::uint16_t port, bool batched = true);
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    std::uint16_t port() const { return boundPort; }
    // Readable when a datagram waits; for a caller that sleeps until then.
    Handle waitDescriptor() const { return descriptor; }
    // At once, after what is queued.
    bool sendTo(const Endpoint& to, std::span<const std::uint8_t> datagram);
    // A copy waits in the queue and leaves, in order, at sendQueued (or when
    // the queue is full). False when this socket cannot reach the address.
    bool queue(const Endpoint& to, std::span<const std::uint8_t> datagram);
    void sendQueued();
    bool hasQueued() const { return !queued.empty(); }
    // The size of the next waiting datagram (cut to the buffer), or nothing.
    std::optional<std::size_t> receive(std::span<std::uint8_t> buffer, Endpoint& from);
    // The datagrams waiting now, up to datagramBatchSize; 0 when none.
    std::size_t receiveBatch(ReceivedBatch& batch);

private:
    struct Queued {
        Endpoint to;
        std::size_t offset;
        std::size_t size;
    };
    bool reachable(const Endpoint& to) const { return dualStack || to.isIpv4(); }

    Handle descriptor = noHandle;
    std::uint16_t boundPort = 0;
    bool dualStack = false;
    bool batched = true;
    bool segmentOffload = true; // same-size datagrams to one peer in one send
    std::vector<Queued> queued;
    std::vector<std::uint8_t> queuedBytes;
};

} // namespace sdk::os
