#include "sdk/os/UdpSocket.h"

#include <arpa/inet.h>
#include <linux/udp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#ifndef UDP_SEGMENT
#define UDP_SEGMENT 103
#endif

namespace sdk::os {

namespace {
// Root may go past the system's buffer limit; everyone else gets what it allows.
void setBuffer(int descriptor, int forced, int plain, int size) {
    if (setsockopt(descriptor, SOL_SOCKET, forced, &size, sizeof size) != 0)
        setsockopt(descriptor, SOL_SOCKET, plain, &size, sizeof size);
}

Endpoint endpointOf(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET6) {
        const auto& peer = reinterpret_cast<const sockaddr_in6&>(address);
        Endpoint::Bytes bytes{};
        std::memcpy(bytes.data(), &peer.sin6_addr, bytes.size());
        return Endpoint::fromBytes(bytes, ntohs(peer.sin6_port));
    }
    const auto& peer = reinterpret_cast<const sockaddr_in&>(address);
    return Endpoint{ntohl(peer.sin_addr.s_addr), ntohs(peer.sin_port)};
}

// The peer's address as this socket writes it; length 0 when it cannot.
socklen_t socketAddressOf(const Endpoint& to, bool dualStack, sockaddr_storage& address) {
    address = sockaddr_storage{};
    if (dualStack) {
        auto& peer = reinterpret_cast<sockaddr_in6&>(address);
        peer.sin6_family = AF_INET6;
        peer.sin6_port = htons(to.port);
        std::memcpy(&peer.sin6_addr, to.bytes().data(), to.bytes().size());
        return sizeof peer;
    }
    if (!to.isIpv4())
        return 0;
    auto& peer = reinterpret_cast<sockaddr_in&>(address);
    peer.sin_family = AF_INET;
    peer.sin_port = htons(to.port);
    peer.sin_addr.s_addr = htonl(to.ipv4());
    return sizeof peer;
}

std::runtime_error socketError(const std::string& what, int error) {
    return std::runtime_error(what + ": " + std::strerror(error));
}
} // namespace

// A dual-stack socket (IPv4 peers arrive as IPv4-mapped addresses); where
// the machine has no IPv6, an IPv4 socket, and IPv6 peers are unreachable.
UdpSocket::UdpSocket(std::uint16_t port, bool batched) : batched(batched) {
    descriptor = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int off = 0;
    if (descriptor >= 0 &&
        setsockopt(descriptor, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) == 0) {
        dualStack = true;
    } else {
        if (descriptor >= 0)
            close(descriptor);
        descriptor = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    }
    if (descriptor < 0)
        throw socketError("cannot create a UDP socket", errno);
    setBuffer(descriptor, SO_RCVBUFFORCE, SO_RCVBUF, bufferSize);
    setBuffer(descriptor, SO_SNDBUFFORCE, SO_SNDBUF, bufferSize);
    sockaddr_storage address{};
    socklen_t length = 0;
    if (dualStack) {
        auto& any = reinterpret_cast<sockaddr_in6&>(address);
        any.sin6_family = AF_INET6;
        any.sin6_port = htons(port);
        any.sin6_addr = in6addr_any;
        length = sizeof any;
    } else {
        auto& any = reinterpret_cast<sockaddr_in&>(address);
        any.sin_family = AF_INET;
        any.sin_port = htons(port);
        any.sin_addr.s_addr = htonl(INADDR_ANY);
        length = sizeof any;
    }
    if (bind(descriptor, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        const int error = errno;
        close(descriptor);
        throw socketError("cannot bind UDP port " + std::to_string(port), error);
    }
    length = sizeof address;
    getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &length);
    boundPort = dualStack ? ntohs(reinterpret_cast<sockaddr_in6&>(address).sin6_port)
                          : ntohs(reinterpret_cast<sockaddr_in&>(address).sin_port);
}

UdpSocket::~UdpSocket() {
    close(descriptor);
}

bool UdpSocket::sendTo(const Endpoint& to, std::span<const std::uint8_t> datagram) {
    sendQueued();
    sockaddr_storage address;
    const socklen_t length = socketAddressOf(to, dualStack, address);
    if (length == 0)
        return false;
    while (true) {
        const auto sent = sendto(descriptor, datagram.data(), datagram.size(), 0,
                                 reinterpret_cast<sockaddr*>(&address), length);
        if (sent >= 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

bool UdpSocket::queue(const Endpoint& to, std::span<const std::uint8_t> datagram) {
    if (!reachable(to))
        return false;
    if (!batched)
        return sendTo(to, datagram);
    if (queued.size() == datagramBatchSize || queuedBytes.size() + datagram.size() > queueBytes)
        sendQueued();
    if (queued.capacity() == 0) {
        queued.reserve(datagramBatchSize);
        queuedBytes.reserve(queueBytes);
    }
    queued.push_back(Queued{to, queuedBytes.size(), datagram.size()});
    queuedBytes.insert(queuedBytes.end(), datagram.begin(), datagram.end());
    return true;
}

namespace {
// One system call's worth: a datagram, or a run of same-size datagrams to
// one peer (the last may be shorter) that the kernel cuts apart itself.
struct Outgoing {
    sockaddr_storage address;
    iovec bytes;
    alignas(cmsghdr) std::uint8_t control[CMSG_SPACE(sizeof(std::uint16_t))];
};

// What one segmented send may carry: the kernel's segment limit and an IP
// packet's length.
constexpr std::size_t maxSegments = 64;
constexpr std::size_t maxSegmentedBytes = 65000;

void setSegmentSize(msghdr& message, Outgoing& out, std::uint16_t size) {
    message.msg_control = out.control;
    message.msg_controllen = sizeof out.control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = IPPROTO_UDP;
    header->cmsg_type = UDP_SEGMENT;
    header->cmsg_len = CMSG_LEN(sizeof size);
    std::memcpy(CMSG_DATA(header), &size, sizeof size);
}

// A refused segmented send that the datagrams can still make one by one.
bool segmentationRefused(int error) {
    return error == EIO || error == EINVAL || error == ENOPROTOOPT || error == EOPNOTSUPP;
}
} // namespace

// Consecutive datagrams to one peer of one size go as one segmented send where
// the kernel has it; everything leaves in one sendmmsg per batch. A datagram
// the kernel refuses is dropped, as a failed sendto drops it.
void UdpSocket::sendQueued() {
    if (queued.empty())
        return;
    std::array<Outgoing, datagramBatchSize> outs;
    std::array<mmsghdr, datagramBatchSize> messages{};
    std::array<std::size_t, datagramBatchSize + 1> firstOf{}; // queued index of each message
    std::size_t count = 0;
    for (std::size_t i = 0; i < queued.size(); ++count) {
        const Queued& first = queued[i];
        std::size_t end = i + 1;
        std::size_t total = first.size;
        if (segmentOffload)
            while (end < queued.size() && end - i < maxSegments &&
                   queued[end - 1].size == first.size && queued[end].size <= first.size &&
                   queued[end].to == first.to && total + queued[end].size <= maxSegmentedBytes)
                total += queued[end++].size;
        Outgoing& out = outs[count];
        msghdr& message = messages[count].msg_hdr;
        message.msg_namelen = socketAddressOf(first.to, dualStack, out.address);
        message.msg_name = &out.address;
        out.bytes = iovec{queuedBytes.data() + first.offset, total};
        message.msg_iov = &out.bytes;
        message.msg_iovlen = 1;
        if (end - i > 1)
            setSegmentSize(message, out, static_cast<std::uint16_t>(first.size));
        firstOf[count] = i;
        i = end;
    }
    firstOf[count] = queued.size();
    for (std::size_t next = 0; next < count;) {
        const int sent =
            sendmmsg(descriptor, messages.data() + next, static_cast<unsigned>(count - next), 0);
        if (sent > 0) {
            next += static_cast<std::size_t>(sent);
            continue;
        }
        const int error = sent < 0 ? errno : EIO;
        if (error == EINTR)
            continue;
        if (messages[next].msg_hdr.msg_controllen != 0 && segmentationRefused(error)) {
            if (error == ENOPROTOOPT || error == EOPNOTSUPP)
                segmentOffload = false;
            // One by one, each on its own: the kernel's verdict on the run as a whole.
            msghdr& message = messages[next].msg_hdr;
            message.msg_control = nullptr;
            message.msg_controllen = 0;
            for (std::size_t q = firstOf[next]; q < firstOf[next + 1]; ++q) {
                iovec single{queuedBytes.data() + queued[q].offset, queued[q].size};
                message.msg_iov = &single;
                while (sendmsg(descriptor, &message, 0) < 0 && errno == EINTR) {
                }
            }
        }
        ++next;
    }
    queued.clear();
    queuedBytes.clear();
}

std::optional<std::size_t> UdpSocket::receive(std::span<std::uint8_t> buffer, Endpoint& from) {
    while (true) {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        const auto size = recvfrom(descriptor, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&address), &length);
        if (size >= 0) {
            from = endpointOf(address);
            return static_cast<std::size_t>(size);
        }
        // Errors queued by earlier sends (an unreachable port) are not ours to stop on.
        if (errno == EINTR || errno == ECONNREFUSED)
            continue;
        return std::nullopt;
    }
}

std::size_t UdpSocket::receiveBatch(ReceivedBatch& batch) {
    batch.setCount(0);
    std::array<mmsghdr, datagramBatchSize> messages{};
    std::array<iovec, datagramBatchSize> slots;
    std::array<sockaddr_storage, datagramBatchSize> addresses;
    const std::size_t wanted = batched ? datagramBatchSize : 1;
    for (std::size_t i = 0; i < wanted; ++i) {
        slots[i] = iovec{batch.slotAt(i), batch.slotSize()};
        msghdr& message = messages[i].msg_hdr;
        message.msg_name = &addresses[i];
        message.msg_namelen = sizeof addresses[i];
        message.msg_iov = &slots[i];
        message.msg_iovlen = 1;
    }
    while (true) {
        const int received = recvmmsg(descriptor, messages.data(), static_cast<unsigned>(wanted),
                                      MSG_DONTWAIT, nullptr);
        if (received > 0) {
            for (int i = 0; i < received; ++i)
                batch.set(static_cast<std::size_t>(i), messages[i].msg_len,
                          endpointOf(addresses[i]));
            batch.setCount(static_cast<std::size_t>(received));
            return batch.count();
        }
        // Errors queued by earlier sends (an unreachable port) are not ours to stop on.
        if (received < 0 && (errno == EINTR || errno == ECONNREFUSED))
            continue;
        return 0;
    }
}

} // namespace sdk::os
