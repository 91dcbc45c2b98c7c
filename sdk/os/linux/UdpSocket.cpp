#include "sdk/os/UdpSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

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

std::runtime_error socketError(const std::string& what, int error) {
    return std::runtime_error(what + ": " + std::strerror(error));
}
} // namespace

// A dual-stack socket (IPv4 peers arrive as IPv4-mapped addresses); where
// the machine has no IPv6, an IPv4 socket, and IPv6 peers are unreachable.
UdpSocket::UdpSocket(std::uint16_t port) {
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
    sockaddr_storage address{};
    socklen_t length = 0;
    if (dualStack) {
        auto& peer = reinterpret_cast<sockaddr_in6&>(address);
        peer.sin6_family = AF_INET6;
        peer.sin6_port = htons(to.port);
        std::memcpy(&peer.sin6_addr, to.bytes().data(), to.bytes().size());
        length = sizeof peer;
    } else {
        if (!to.isIpv4())
            return false;
        auto& peer = reinterpret_cast<sockaddr_in&>(address);
        peer.sin_family = AF_INET;
        peer.sin_port = htons(to.port);
        peer.sin_addr.s_addr = htonl(to.ipv4());
        length = sizeof peer;
    }
    while (true) {
        const auto sent = sendto(descriptor, datagram.data(), datagram.size(), 0,
                                 reinterpret_cast<sockaddr*>(&address), length);
        if (sent >= 0)
            return true;
        if (errno != EINTR)
            return false;
    }
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

} // namespace sdk::os
