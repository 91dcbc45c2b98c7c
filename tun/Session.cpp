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
        // Without CAP_NET_ADMIN the queue is the one the helper handed over.
        UniqueDescriptor queue;
        if (int rc = adapter.helper->startSession(queue); rc != 0)
            return rc;
        session->fd = queue.release();
        session->helper = adapter.helper;
        started = std::move(session);
        return 0;
    }
    int fd = session->fd = open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
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
    if (int rc = setLinkUp(adapter.index); rc != 0)
        return rc;
    started = std::move(session);
    return 0;
}

WintunSessionRecord::WintunSessionRecord(std::uint32_t capacity)
    : received(capacity), waiting(wintunMaxIpPacketSize), sending(capacity) {}

WintunSessionRecord::~WintunSessionRecord() {
    if (fd >= 0)
        close(fd);
    if (helper)
        helper->endSession();
}

std::uint8_t* WintunSessionRecord::receive(std::uint32_t& size) {
    std::lock_guard lock(receiveLock);
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
    std::lock_guard lock(sendLock);
    sending.release(packet);
    // A packet the kernel refuses (malformed, interface gone) is dropped, as a
    // Wintun ring drops what the driver cannot deliver.
    sending.reclaim([this](const std::uint8_t* ready, std::uint32_t size) {
        [[maybe_unused]] ssize_t written = write(fd, ready, size);
    });
}
