#pragma once

// How a queue of our adapters is opened and set up: one place, whoever opens
// the descriptor.
//
// Offloads are on unless VASKOR_TUN_OFFLOAD is 0, off, no or false: the queue
// then carries bare IP packets, one per read and write, as before.

#include <cstdint>

// The flags for TUNSETIFF, at creation and when a session attaches:
// IFF_TUN without packet information, with a virtio-net header before every
// packet while offloads are on.
int tunInterfaceFlags();

// What a queue carries once set up.
struct QueueOffloads {
    bool vnetHeader = false;     // every read and write starts with a VnetHeader
    unsigned kernelOffloads = 0; // TUN_F_* the kernel accepted
};

// Sets up an open queue (made here or handed over): the header size, and the
// offloads the kernel has (checksum, TSO for IPv4, UDP segmentation where it
// exists); a queue without the header gets no offloads, so the kernel never
// hands it a super-packet. Returns 0 or an errno value.
int setUpQueue(int descriptor, QueueOffloads& offloads);
