#include "sdk/os/UdpSocket.h"

#include "sdk/os/win32/Text.h"

#include <winsock2.h> // before the other system headers

#include <mswsock.h>
#include <ws2tcpip.h>

#include <stdexcept>

namespace sdk::os {

namespace {

std::runtime_error socketError(const std::string& what, int error) {
    return std::runtime_error(what + ": " + win32::errorText(static_cast<unsigned long>(error)));
}

SOCKET socketOf(Handle handle) {
    return static_cast<SOCKET>(handle);
}

sockaddr_in addressOf(const Endpoint& endpoint) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(endpoint.port);
    address.sin_addr.s_addr = htonl(endpoint.address);
    return address;
}

} // namespace

// Winsock counts its users: each socket holds it for its lifetime.
UdpSocket::UdpSocket(std::uint16_t port) {
    WSADATA data{};
    if (const int error = WSAStartup(MAKEWORD(2, 2), &data); error != 0)
        throw socketError("cannot start Winsock", error);
    const SOCKET created =
        WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (created == INVALID_SOCKET) {
        const int error = WSAGetLastError();
        WSACleanup();
        throw socketError("cannot create a UDP socket", error);
    }
    descriptor = static_cast<Handle>(created);
    // No one else may bind our port while we hold it.
    BOOL exclusive = TRUE;
    setsockopt(created, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof exclusive);
    const int size = bufferSize;
    setsockopt(created, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size);
    setsockopt(created, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&size), sizeof size);
    // An unreachable port answers with an error on the next receive, which
    // would stop the core's reading; a member that left is no reason to.
    BOOL report = FALSE;
    DWORD ignored = 0;
    WSAIoctl(created, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &ignored, nullptr,
             nullptr);
    u_long nonBlocking = 1;
    ioctlsocket(created, FIONBIO, &nonBlocking);
    sockaddr_in address = addressOf(Endpoint{INADDR_ANY, port});
    if (bind(created, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const int error = WSAGetLastError();
        closesocket(created);
        WSACleanup();
        throw socketError("cannot bind UDP port " + std::to_string(port), error);
    }
    int length = sizeof address;
    getsockname(created, reinterpret_cast<sockaddr*>(&address), &length);
    boundPort = ntohs(address.sin_port);
}

UdpSocket::~UdpSocket() {
    closesocket(socketOf(descriptor));
    WSACleanup();
}

bool UdpSocket::sendTo(const Endpoint& to, std::span<const std::uint8_t> datagram) {
    const sockaddr_in address = addressOf(to);
    for (;;) {
        const int sent =
            sendto(socketOf(descriptor), reinterpret_cast<const char*>(datagram.data()),
                   static_cast<int>(datagram.size()), 0,
                   reinterpret_cast<const sockaddr*>(&address), sizeof address);
        if (sent != SOCKET_ERROR)
            return true;
        if (WSAGetLastError() != WSAEWOULDBLOCK)
            return false;
        // The socket does not wait by itself: wait for buffer space here.
        WSAPOLLFD writable{socketOf(descriptor), POLLWRNORM, 0};
        WSAPoll(&writable, 1, 1000);
    }
}

std::optional<std::size_t> UdpSocket::receive(std::span<std::uint8_t> buffer, Endpoint& from) {
    for (;;) {
        sockaddr_in address{};
        int length = sizeof address;
        const int size = recvfrom(socketOf(descriptor), reinterpret_cast<char*>(buffer.data()),
                                  static_cast<int>(buffer.size()), 0,
                                  reinterpret_cast<sockaddr*>(&address), &length);
        const int error = size == SOCKET_ERROR ? WSAGetLastError() : 0;
        if (size != SOCKET_ERROR || error == WSAEMSGSIZE) {
            from = Endpoint{ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
            // A longer datagram is cut to the buffer, as on every system.
            return size == SOCKET_ERROR ? buffer.size() : static_cast<std::size_t>(size);
        }
        // Errors queued by earlier sends (an unreachable port) are not ours to stop on.
        if (error == WSAECONNRESET || error == WSAENETRESET)
            continue;
        return std::nullopt;
    }
}

} // namespace sdk::os
