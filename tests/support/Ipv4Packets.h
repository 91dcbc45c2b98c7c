#pragma once

// Raw IPv4 packets and UDP sockets for the tests and benchmarks that exchange
// packets with the kernel through an adapter.

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

// a.b.c.d in network byte order.
std::uint32_t ipv4Address(const char* text);

// A UDP packet with correct IP and UDP checksums, totalLength bytes in all (at
// least 28); the payload starts with the 32-bit sequence number.
std::vector<std::uint8_t> udpPacket(std::uint32_t source, std::uint32_t destination,
                                    std::uint16_t sourcePort, std::uint16_t destinationPort,
                                    std::size_t totalLength, std::uint32_t sequence = 0);

struct Ipv4Summary {
    std::uint32_t source = 0;
    std::uint32_t destination = 0;
    std::uint8_t protocol = 0;
    std::uint16_t destinationPort = 0; // UDP only
    std::uint32_t sequence = 0;        // UDP only: the payload's first 32 bits
};
std::optional<Ipv4Summary> summarise(const std::uint8_t* packet, std::size_t length);

// The echo reply that answers an ICMP echo request packet; nullopt for any other packet.
std::optional<std::vector<std::uint8_t>> echoReplyFor(const std::vector<std::uint8_t>& request);

class UdpSocket {
public:
    // Bound to address:port (port 0: any); SO_BROADCAST on.
    UdpSocket(std::uint32_t address, std::uint16_t port);
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // 0 or the errno of sendto.
    int sendTo(std::uint32_t address, std::uint16_t port, const std::vector<std::uint8_t>& data);
    std::optional<std::vector<std::uint8_t>> receive(std::chrono::milliseconds wait);
    int descriptor() const { return fd; }

private:
    int fd;
};

// The 32-bit sequence number a UDP payload starts with.
std::vector<std::uint8_t> sequencePayload(std::uint32_t sequence, std::size_t length);
std::uint32_t sequenceOf(const std::vector<std::uint8_t>& payload);
