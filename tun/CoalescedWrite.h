#pragma once

// What the caller sends, made into as few writes as the queue allows: the
// segments of one TCP flow that follow each other join into one super-packet
// behind a virtio-net header, which the kernel takes in as one burst. A
// segment joins only when the kernel would have taken it alone: its IPv4 and
// TCP checksums hold, and it differs from the first in nothing but its
// sequence, identification, payload and checksums.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

class CoalescedWrite {
public:
    CoalescedWrite();

    // Whether other segments might join this packet: TCP over IPv4 with data
    // (a cheap look, before any checksum).
    static bool mayStartRun(const std::uint8_t* packet, std::size_t size);

    bool empty() const { return segments == 0; }
    // Adds a packet; false when it cannot join what is held (write that first).
    bool add(std::span<const std::uint8_t> packet);
    // One write's bytes (header and packet or super-packet), valid until the
    // next add; afterwards nothing is held.
    std::span<const std::uint8_t> take();

private:
    bool joins(std::span<const std::uint8_t> packet) const;

    std::vector<std::uint8_t> bytes; // header, then the packet or super-packet
    std::size_t length = 0;          // of the packet or super-packet
    std::size_t segments = 0;
    bool joinable = false;       // the first is a TCP segment others may follow
    std::size_t payloadSize = 0; // the first's: every joined one but the last has it
    std::size_t lastPayload = 0;
    std::uint32_t nextSequence = 0;
};
