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

std::runtime_error socketError(const std::string& what, int error) {
    return std::runtime_error(what + ": " + std::strerror(error));
}
} // namespace

UdpSocket::UdpSocket(std::uint16_t port) {
    descriptor = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0)
        throw socketError("cannot create a UDP socket", errno);
    setBuffer(descriptor, SO_RCVBUFFORCE, SO_RCVBUF, bufferSize);
    setBuffer(descriptor, SO_SNDBUFFORCE, SO_SNDBUF, bufferSize);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        close(descriptor);
        throw socketError("cannot bind UDP port " + std::to_string(port), error);
    }
    socklen_t length = sizeof address;
    getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &length);
    boundPort = ntohs(address.sin_port);
}

UdpSocket::~UdpSocket() {
    close(descriptor);
}

bool UdpSocket::sendTo(const Endpoint& to, std::span<const std::uint8_t> datagram) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(to.port);
    address.sin_addr.s_addr = htonl(to.address);
    while (true) {
        const auto sent = sendto(descriptor, datagram.data(), datagram.size(), 0,
                                 reinterpret_cast<sockaddr*>(&address), sizeof address);
        if (sent >= 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

std::optional<std::size_t> UdpSocket::receive(std::span<std::uint8_t> buffer, Endpoint& from) {
    while (true) {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        const auto size = recvfrom(descriptor, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&address), &length);
        if (size >= 0) {
            from = Endpoint{ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
            return static_cast<std::size_t>(size);
        }
        // Errors queued by earlier sends (an unreachable port) are not ours to stop on.
        if (errno == EINTR || errno == ECONNREFUSED)
            continue;
        return std::nullopt;
    }
}

} // namespace sdk::os
