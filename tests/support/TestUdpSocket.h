#pragma once

// A plain UDP socket for tests: a port held by someone else, a silent peer, a
// stranger who sends whatever it likes, a relay in the middle. Addresses are
// IPv4 in host order. A socket that cannot be made or bound, or a datagram
// that cannot be sent, throws: a test must not go on believing it sent.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <vector>

namespace testsupport {

class TestUdpSocket {
public:
    // Bound to a free port of address (loopback unless told).
    explicit TestUdpSocket(std::uint32_t address = INADDR_LOOPBACK)
        : descriptor(socket(AF_INET, SOCK_DGRAM, 0)) {
        if (descriptor < 0)
            throw std::system_error(errno, std::generic_category(), "test UDP socket");
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(address);
        socklen_t length = sizeof local;
        if (bind(descriptor, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
            getsockname(descriptor, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
            const int error = errno;
            close(descriptor);
            throw std::system_error(error, std::generic_category(), "binding a test UDP socket");
        }
        boundPort = ntohs(local.sin_port);
    }
    // Takes a socket made elsewhere, for example inside a test machine.
    explicit TestUdpSocket(int adopted) : descriptor(adopted) {}
    ~TestUdpSocket() { close(descriptor); }
    TestUdpSocket(const TestUdpSocket&) = delete;
    TestUdpSocket& operator=(const TestUdpSocket&) = delete;

    std::uint16_t port() const { return boundPort; }
    std::string portText() const { return std::to_string(boundPort); }

    void sendTo(std::uint32_t address, std::uint16_t port, std::span<const std::uint8_t> bytes) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(address);
        const auto sent = sendto(descriptor, bytes.data(), bytes.size(), 0,
                                 reinterpret_cast<sockaddr*>(&to), sizeof to);
        if (sent != static_cast<ssize_t>(bytes.size()))
            throw std::system_error(sent < 0 ? errno : EMSGSIZE, std::generic_category(),
                                    "sending from a test UDP socket");
    }

    // The next waiting datagram, if any, and who sent it.
    std::optional<std::vector<std::uint8_t>> receive(std::uint32_t* fromAddress = nullptr,
                                                     std::uint16_t* fromPort = nullptr) {
        std::vector<std::uint8_t> buffer(2048);
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const auto size = recvfrom(descriptor, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&from), &length);
        if (size < 0)
            return std::nullopt;
        if (fromAddress)
            *fromAddress = ntohl(from.sin_addr.s_addr);
        if (fromPort)
            *fromPort = ntohs(from.sin_port);
        buffer.resize(static_cast<std::size_t>(size));
        return buffer;
    }

private:
    int descriptor;
    std::uint16_t boundPort = 0;
};

} // namespace testsupport
