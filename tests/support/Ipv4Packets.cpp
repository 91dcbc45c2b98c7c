#include "tests/support/Ipv4Packets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace {

std::uint32_t sumWords(const std::uint8_t* data, std::size_t length, std::uint32_t sum = 0) {
    for (std::size_t i = 0; i + 1 < length; i += 2)
        sum += (data[i] << 8) | data[i + 1];
    if (length % 2)
        sum += data[length - 1] << 8;
    return sum;
}

std::uint16_t fold(std::uint32_t sum) {
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

void put16(std::uint8_t* at, std::uint16_t value) {
    at[0] = value >> 8;
    at[1] = value & 0xFF;
}

std::uint16_t get16(const std::uint8_t* at) {
    return static_cast<std::uint16_t>(at[0] << 8 | at[1]);
}

} // namespace

std::uint32_t ipv4Address(const char* text) {
    in_addr address{};
    if (inet_pton(AF_INET, text, &address) != 1)
        throw std::invalid_argument(text);
    return address.s_addr;
}

std::vector<std::uint8_t> sequencePayload(std::uint32_t sequence, std::size_t length) {
    std::vector<std::uint8_t> payload(std::max<std::size_t>(length, 4));
    std::uint32_t bigEndian = htonl(sequence);
    std::memcpy(payload.data(), &bigEndian, 4);
    for (std::size_t i = 4; i < payload.size(); ++i)
        payload[i] = static_cast<std::uint8_t>(i * 7 + sequence);
    return payload;
}

std::uint32_t sequenceOf(const std::vector<std::uint8_t>& payload) {
    std::uint32_t bigEndian = 0;
    std::memcpy(&bigEndian, payload.data(), std::min<std::size_t>(4, payload.size()));
    return ntohl(bigEndian);
}

std::vector<std::uint8_t> udpPacket(std::uint32_t source, std::uint32_t destination,
                                    std::uint16_t sourcePort, std::uint16_t destinationPort,
                                    std::size_t totalLength, std::uint32_t sequence) {
    std::vector<std::uint8_t> packet(std::max<std::size_t>(totalLength, 32));
    auto payload = sequencePayload(sequence, packet.size() - 28);
    std::uint8_t* ip = packet.data();
    ip[0] = 0x45;
    put16(ip + 2, static_cast<std::uint16_t>(packet.size()));
    ip[8] = 64;
    ip[9] = IPPROTO_UDP;
    std::memcpy(ip + 12, &source, 4);
    std::memcpy(ip + 16, &destination, 4);
    put16(ip + 10, fold(sumWords(ip, 20)));
    std::uint8_t* udp = ip + 20;
    put16(udp, sourcePort);
    put16(udp + 2, destinationPort);
    put16(udp + 4, static_cast<std::uint16_t>(packet.size() - 20));
    std::memcpy(udp + 8, payload.data(), payload.size());
    std::uint32_t pseudo = sumWords(ip + 12, 8) + IPPROTO_UDP + (packet.size() - 20);
    std::uint16_t checksum = fold(sumWords(udp, packet.size() - 20, pseudo));
    put16(udp + 6, checksum == 0 ? 0xFFFF : checksum);
    return packet;
}

std::optional<Ipv4Summary> summarise(const std::uint8_t* packet, std::size_t length) {
    if (length < 20 || (packet[0] >> 4) != 4)
        return std::nullopt;
    Ipv4Summary summary;
    std::memcpy(&summary.source, packet + 12, 4);
    std::memcpy(&summary.destination, packet + 16, 4);
    summary.protocol = packet[9];
    std::size_t headerLength = (packet[0] & 0x0F) * 4u;
    if (summary.protocol == IPPROTO_UDP && length >= headerLength + 12) {
        summary.destinationPort = get16(packet + headerLength + 2);
        summary.sequence = sequenceOf({packet + headerLength + 8, packet + headerLength + 12});
    }
    return summary;
}

std::optional<std::vector<std::uint8_t>> echoReplyFor(const std::vector<std::uint8_t>& request) {
    auto summary = summarise(request.data(), request.size());
    std::size_t headerLength = (request[0] & 0x0F) * 4u;
    if (!summary || summary->protocol != IPPROTO_ICMP || request.size() < headerLength + 8 ||
        request[headerLength] != 8)
        return std::nullopt;
    std::vector<std::uint8_t> reply = request;
    std::memcpy(reply.data() + 12, &summary->destination, 4);
    std::memcpy(reply.data() + 16, &summary->source, 4);
    put16(reply.data() + 10, 0);
    put16(reply.data() + 10, fold(sumWords(reply.data(), headerLength)));
    std::uint8_t* icmp = reply.data() + headerLength;
    icmp[0] = 0; // echo reply
    put16(icmp + 2, 0);
    put16(icmp + 2, fold(sumWords(icmp, reply.size() - headerLength)));
    return reply;
}

UdpSocket::UdpSocket(std::uint32_t address, std::uint16_t port) {
    fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::system_error(errno, std::system_category(), "socket");
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = address;
    local.sin_port = htons(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        int error = errno;
        close(fd);
        throw std::system_error(error, std::system_category(), "bind");
    }
}

UdpSocket::~UdpSocket() {
    close(fd);
}

int UdpSocket::sendTo(std::uint32_t address, std::uint16_t port,
                      const std::vector<std::uint8_t>& data) {
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_addr.s_addr = address;
    remote.sin_port = htons(port);
    ssize_t sent = sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&remote),
                          sizeof remote);
    return sent < 0 ? errno : 0;
}

std::optional<std::vector<std::uint8_t>> UdpSocket::receive(std::chrono::milliseconds wait) {
    pollfd waiting{fd, POLLIN, 0};
    if (poll(&waiting, 1, static_cast<int>(wait.count())) != 1)
        return std::nullopt;
    std::vector<std::uint8_t> data(65536);
    ssize_t length = recv(fd, data.data(), data.size(), 0);
    if (length < 0)
        return std::nullopt;
    data.resize(static_cast<std::size_t>(length));
    return data;
}
