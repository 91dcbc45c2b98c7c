#include "tun/Session.h"

#include "interfaces/WintunTypes.h"
#include "platform/linux/Netlink.h"
#include "tun/HelperLink.h"
#include "tun/Logger.h"

#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/uio.h>
#include <system_error>
#include <unistd.h>

int WintunSessionRecord::start(const WintunAdapterRecord& adapter, std::uint32_t capacity,
                               std::unique_ptr<WintunSessionRecord>& started) {
    if (capacity < wintunMinRingCapacity || capacity > wintunMaxRingCapacity ||
        !std::has_single_bit(capacity))
        return EINVAL;
    if (int rc = checkAdapter(adapter); rc != 0)
        return rc;
    std::unique_ptr<WintunSessionRecord> session(new WintunSessionRecord(capacity));
    if (adapter.helper) {
        // Without CAP_NET_ADMIN the queue is the one the helper handed over
        // (made with the same flags, the link already up).
        UniqueDescriptor queue;
        if (int rc = adapter.helper->startSession(queue); rc != 0)
            return rc;
        session->fd = queue.release();
        session->helper = adapter.helper;
    } else if (int rc = session->attach(adapter); rc != 0) {
        return rc;
    }
    if (int rc = setUpQueue(session->fd, session->offloads); rc != 0)
        return rc;
    if (session->offloads.vnetHeader) {
        session->offloadedRead.resize(VnetHeader::size + wintunMaxIpPacketSize);
        try {
            session->writer = std::thread(&WintunSessionRecord::writeLoop, session.get());
        } catch (const std::system_error& error) {
            return error.code().value();
        }
    }
    started = std::move(session);
    return 0;
}

int WintunSessionRecord::attach(const WintunAdapterRecord& adapter) {
    fd = open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    ifreq request{};
    std::strncpy(request.ifr_name, adapter.interfaceName.c_str(), IFNAMSIZ - 1);
    request.ifr_flags = static_cast<short>(tunInterfaceFlags());
    if (ioctl(fd, TUNSETIFF, &request) < 0)
        return errno;
    // Had the interface gone meanwhile, TUNSETIFF made a new one that closing drops.
    if (if_nametoindex(adapter.interfaceName.c_str()) != adapter.index)
        return ENODEV;
    return setLinkUp(adapter.index);
}

WintunSessionRecord::WintunSessionRecord(std::uint32_t capacity)
    : received(capacity), waiting(wintunMaxIpPacketSize), sending(capacity) {}

WintunSessionRecord::~WintunSessionRecord() {
    if (writer.joinable()) {
        {
            std::lock_guard lock(sendLock);
            stopping = true;
        }
        sendReady.notify_one();
        writer.join(); // after writing what was sent
    }
    if (fd >= 0)
        close(fd);
    if (helper)
        helper->endSession();
}

std::uint8_t* WintunSessionRecord::receive(std::uint32_t& size) {
    std::lock_guard lock(receiveLock);
    if (offloads.vnetHeader)
        return receiveSegment(size);
    if (waitingSize == 0) {
        // Read straight into the ring while it has room for the largest packet.
        if (std::uint8_t* packet = received.allocate(wintunMaxIpPacketSize)) {
            ssize_t length = read(fd, packet, wintunMaxIpPacketSize);
            int readError = errno;
            received.trimLast(packet, length > 0 ? static_cast<std::uint32_t>(length) : 0);
            if (length <= 0) {
                errno = readFailure(length, readError);
                return nullptr;
            }
            size = static_cast<std::uint32_t>(length);
            return packet;
        }
        ssize_t length = read(fd, waiting.data(), waiting.size());
        if (length <= 0) {
            errno = readFailure(length, errno);
            return nullptr;
        }
        waitingSize = static_cast<std::uint32_t>(length);
    }
    std::uint8_t* packet = received.allocate(waitingSize);
    if (packet == nullptr) {
        errno = ENOBUFS;
        return nullptr;
    }
    std::memcpy(packet, waiting.data(), waitingSize);
    size = waitingSize;
    waitingSize = 0;
    return packet;
}

std::uint8_t* WintunSessionRecord::receiveSegment(std::uint32_t& size) {
    while (true) {
        if (pending) {
            const auto length = static_cast<std::uint32_t>(pending->segmentLength(nextSegment));
            std::uint8_t* packet = received.allocate(length);
            if (packet == nullptr) {
                errno = ENOBUFS; // the segment stays first in line
                return nullptr;
            }
            pending->writeSegment(nextSegment, packet);
            if (++nextSegment == pending->segmentCount())
                pending.reset();
            size = length;
            return packet;
        }
        const ssize_t length = read(fd, offloadedRead.data(), offloadedRead.size());
        if (length <= 0) {
            errno = readFailure(length, errno);
            return nullptr;
        }
        // A header that does not fit its packet costs that read only.
        pending =
            OffloadedPacket::of(std::span(offloadedRead).first(static_cast<std::size_t>(length)));
        nextSegment = 0;
    }
}

// The kernel detaches the queue when the interface is deleted (by anyone):
// every read then fails with EBADFD and the descriptor polls as an error for
// good. That is the adapter going away: reported once in the log, and always
// as wintunAdapterGone, so the caller ends its session instead of polling.
int WintunSessionRecord::readFailure(ssize_t length, int error) {
    if (length == 0)
        return EIO;
    if (error != EBADFD)
        return error;
    if (!goneReported) {
        goneReported = true;
        logFailure("Adapter is terminating", wintunAdapterGone);
    }
    return wintunAdapterGone;
}

void WintunSessionRecord::releaseReceived(const std::uint8_t* packet) {
    std::lock_guard lock(receiveLock);
    received.release(packet);
    received.reclaim();
}

std::uint8_t* WintunSessionRecord::allocateSend(std::uint32_t size) {
    if (size == 0 || size > wintunMaxIpPacketSize) {
        errno = EINVAL;
        return nullptr;
    }
    std::lock_guard lock(sendLock);
    std::uint8_t* packet = sending.allocate(size);
    if (packet == nullptr)
        errno = ENOBUFS;
    return packet;
}

void WintunSessionRecord::send(const std::uint8_t* packet) {
    std::unique_lock lock(sendLock);
    sending.release(packet);
    if (offloads.vnetHeader) {
        // What no other packet can join (a ping, a pure ACK, UDP) goes at
        // once when nothing waits before it: no wake-up, no added latency.
        if (writerWaiting && !sentSinceWake &&
            !CoalescedWrite::mayStartRun(packet, PacketRing::sizeOf(packet))) {
            sending.reclaim([this](const std::uint8_t* ready, std::uint32_t size) {
                static constexpr std::uint8_t plainHeader[VnetHeader::size] = {};
                const iovec parts[2] = {
                    {const_cast<std::uint8_t*>(plainHeader), sizeof plainHeader},
                    {const_cast<std::uint8_t*>(ready), size}};
                [[maybe_unused]] ssize_t written = writev(fd, parts, 2);
            });
            return;
        }
        sentSinceWake = true;
        if (writerWaiting) {
            writerWaiting = false;
            lock.unlock();
            sendReady.notify_one();
        }
        return;
    }
    // A packet the kernel refuses (malformed, interface gone) is dropped, as a
    // Wintun ring drops what the driver cannot deliver.
    sending.reclaim([this](const std::uint8_t* ready, std::uint32_t size) {
        [[maybe_unused]] ssize_t written = write(fd, ready, size);
    });
}

// The packets leave the ring as the writer copies them out (the ring's room
// returns at once); what was sent before the session ends is still written.
void WintunSessionRecord::writeLoop() {
    std::vector<std::uint8_t> packets;
    std::vector<std::uint32_t> sizes;
    while (true) {
        {
            std::unique_lock lock(sendLock);
            writerWaiting = !sentSinceWake;
            sendReady.wait(lock, [this] { return sentSinceWake || stopping; });
            writerWaiting = false;
            sentSinceWake = false;
            sending.reclaim([&](const std::uint8_t* ready, std::uint32_t size) {
                packets.insert(packets.end(), ready, ready + size);
                sizes.push_back(size);
            });
            if (sizes.empty() && stopping)
                return;
        }
        writeBurst(packets, sizes);
        packets.clear();
        sizes.clear();
    }
}

// A write the kernel refuses (malformed, interface gone) is dropped, as a
// Wintun ring drops what the driver cannot deliver.
void WintunSessionRecord::writeBurst(std::span<const std::uint8_t> packets,
                                     std::span<const std::uint32_t> sizes) {
    const auto writeOut = [this](std::span<const std::uint8_t> bytes) {
        [[maybe_unused]] ssize_t written = write(fd, bytes.data(), bytes.size());
    };
    for (const std::uint32_t size : sizes) {
        const auto packet = packets.first(size);
        packets = packets.subspan(size);
        if (!coalesced.add(packet)) {
            writeOut(coalesced.take());
            coalesced.add(packet);
        }
    }
    if (!coalesced.empty())
        writeOut(coalesced.take());
}
