#include "sdk/os/UdpSocket.h"

#include "sdk/os/win32/Text.h"

#include <winsock2.h> // before the other system headers

#include <mswsock.h>
#include <ws2tcpip.h>

#include <cstring>
#include <stdexcept>

namespace sdk::os {

namespace {

std::runtime_error socketError(const std::string& what, int error) {
    return std::runtime_error(what + ": " + win32::errorText(static_cast<unsigned long>(error)));
}

SOCKET socketOf(Handle handle) {
    return static_cast<SOCKET>(handle);
}

// The socket is dual-stack: IPv4 peers are IPv4-mapped IPv6 addresses.
sockaddr_in6 addressOf(const Endpoint& endpoint) {
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(endpoint.port);
    std::memcpy(&address.sin6_addr, endpoint.bytes().data(), endpoint.bytes().size());
    return address;
}

} // namespace

// Winsock counts its users: each socket holds it for its lifetime.
UdpSocket::UdpSocket(std::uint16_t port, bool batched) : batched(batched) {
    WSADATA data{};
    if (const int error = WSAStartup(MAKEWORD(2, 2), &data); error != 0)
        throw socketError("cannot start Winsock", error);
    const SOCKET created =
        WSASocketW(AF_INET6, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (created == INVALID_SOCKET) {
        const int error = WSAGetLastError();
        WSACleanup();
        throw socketError("cannot create a UDP socket", error);
    }
    descriptor = static_cast<Handle>(created);
    DWORD v6Only = 0;
    setsockopt(created, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&v6Only),
               sizeof v6Only);
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
    sockaddr_in6 address = addressOf(Endpoint::fromBytes({}, port));
    if (bind(created, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const int error = WSAGetLastError();
        closesocket(created);
        WSACleanup();
        throw socketError("cannot bind UDP port " + std::to_string(port), error);
    }
    int length = sizeof address;
    getsockname(created, reinterpret_cast<sockaddr*>(&address), &length);
    boundPort = ntohs(address.sin6_port);
}

UdpSocket::~UdpSocket() {
    closesocket(socketOf(descriptor));
    WSACleanup();
}

bool UdpSocket::sendTo(const Endpoint& to, std::span<const std::uint8_t> datagram) {
    const sockaddr_in6 address = addressOf(to);
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
        sockaddr_in6 address{};
        int length = sizeof address;
        const int size = recvfrom(socketOf(descriptor), reinterpret_cast<char*>(buffer.data()),
                                  static_cast<int>(buffer.size()), 0,
                                  reinterpret_cast<sockaddr*>(&address), &length);
        const int error = size == SOCKET_ERROR ? WSAGetLastError() : 0;
        if (size != SOCKET_ERROR || error == WSAEMSGSIZE) {
            Endpoint::Bytes bytes{};
            std::memcpy(bytes.data(), &address.sin6_addr, bytes.size());
            from = Endpoint::fromBytes(bytes, ntohs(address.sin6_port));
            // A longer datagram is cut to the buffer, as on every system.
            return size == SOCKET_ERROR ? buffer.size() : static_cast<std::size_t>(size);
        }
        // Errors queued by earlier sends (an unreachable port) are not ours to stop on.
        if (error == WSAECONNRESET || error == WSAENETRESET)
            continue;
        return std::nullopt;
    }
}

// Windows keeps one call per datagram: queued datagrams leave at once.
bool UdpSocket::queue(const Endpoint& to, std::span<const std::uint8_t> datagram) {
    return sendTo(to, datagram);
}

void UdpSocket::sendQueued() {}

std::size_t UdpSocket::receiveBatch(ReceivedBatch& batch) {
    std::size_t count = 0;
    Endpoint from;
    while (count < datagramBatchSize) {
        const auto size = receive(std::span(batch.slotAt(count), batch.slotSize()), from);
        if (!size)
            break;
        batch.set(count++, *size, from);
    }
    batch.setCount(count);
    return count;
}

} // namespace sdk::os
