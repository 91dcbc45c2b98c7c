#pragma once

// A packet session: the adapter's TUN queue, opened non-blocking, with one ring
// for the packets handed to the caller and one for the packets being sent.

#include "tun/Adapters.h"
#include "tun/CoalescedWrite.h"
#include "tun/OffloadedPacket.h"
#include "tun/PacketRing.h"
#include "tun/QueueSetup.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/types.h>
#include <thread>
#include <vector>

struct WintunSessionRecord {
public:
    // Attaches to the adapter's interface and brings it up. Returns 0 or an errno
    // value (EINVAL for a capacity that is not a power of two in Wintun's range,
    // EBUSY when another session holds the adapter).
    static int start(const WintunAdapterRecord& adapter, std::uint32_t capacity,
                     std::unique_ptr<WintunSessionRecord>& started);
    ~WintunSessionRecord();
    WintunSessionRecord(const WintunSessionRecord&) = delete;
    WintunSessionRecord& operator=(const WintunSessionRecord&) = delete;

    int descriptor() const { return fd; }

    // The next packet, valid until released, or null with errno set: EAGAIN when
    // none is waiting, ENOBUFS when the caller holds the whole ring (the packet
    // stays first in line), wintunAdapterGone once the interface was deleted
    // under the session, another value when the interface failed.
    std::uint8_t* receive(std::uint32_t& size);
    void releaseReceived(const std::uint8_t* packet);

    // Room for a packet to send, or null with errno ENOBUFS (ring full) or
    // EINVAL (size 0 or above 0xFFFF).
    std::uint8_t* allocateSend(std::uint32_t size);
    // Packets leave in the order of their allocation.
    void send(const std::uint8_t* packet);

private:
    explicit WintunSessionRecord(std::uint32_t capacity);
    // Opens a queue of the adapter itself (CAP_NET_ADMIN) and brings its link up.
    int attach(const WintunAdapterRecord& adapter);
    int readFailure(ssize_t length, int error);
    // A queue with offloads: each read is cut into its segments, handed out
    // one by one.
    std::uint8_t* receiveSegment(std::uint32_t& size);

    int fd = -1;
    QueueOffloads offloads;
    std::vector<std::uint8_t> offloadedRead; // the last read, header first
    std::optional<OffloadedPacket> pending;  // its segments not yet handed out
    std::size_t nextSegment = 0;
    std::shared_ptr<HelperLink> helper; // when the helper handed over the queue
    std::mutex receiveLock;
    PacketRing received;
    std::vector<std::uint8_t> waiting; // a packet read while the ring was full
    std::uint32_t waitingSize = 0;
    bool goneReported = false;
    std::mutex sendLock;
    PacketRing sending;

    // A queue with offloads: a writer takes what the caller sent, whole bursts
    // at a time, and writes each TCP flow's run of segments at once. It is
    // woken only while it waits, so a burst costs the caller one wake-up.
    void writeLoop();
    void writeBurst(std::span<const std::uint8_t> packets, std::span<const std::uint32_t> sizes);
    std::condition_variable sendReady;
    bool sentSinceWake = false; // under sendLock
    bool writerWaiting = false; // under sendLock
    bool stopping = false;      // under sendLock
    CoalescedWrite coalesced;   // the writer's
    std::thread writer;
};
