#include "vpn/PeerProtocol.h"
#include "vpn/UnicastRoutes.h"

#include "tests/support/SystemIpv4.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

std::uint32_t ip(const char* text) {
    const std::optional<std::uint32_t> address = testsupport::systemIpv4(text);
    EXPECT_TRUE(address) << text;
    return address.value_or(0);
}

std::optional<Ipv4Cidr> readAddress(const std::string& message) {
    return peer::readAddressMessage(reinterpret_cast<const std::uint8_t*>(message.data()),
                                    message.size());
}

TEST(PeerProtocol, AddressMessageIsThePrefixAndTheTextWithoutNul) {
    const std::string message = peer::addressMessage(Ipv4Cidr::parse("192.168.42.2/24"));
    EXPECT_EQ(message, "ipv4 192.168.42.2/24");
    EXPECT_EQ(message.size(), 20u);
    EXPECT_EQ(readAddress(message), Ipv4Cidr::parse("192.168.42.2/24"));
}

TEST(PeerProtocol, OnlyAddressControlMessagesWithAnAddressAreApplied) {
    struct Case {
        std::string message;
        const char* expected; // nullptr: ignored
    } cases[] = {
        {"ipv4 10.1.2.3/24", "10.1.2.3/24"},
        {"ipv4 10.1.2.3/24 trailing words", "10.1.2.3/24"},
        {std::string("ipv4 10.1.2.3/24\0junk", 21), "10.1.2.3/24"}, // parse stops at the NUL
        {"ipv4", nullptr},
        {"ipv4x10.1.2.3/24", nullptr},
        {"IPV4 10.1.2.3/24", nullptr},
        {"ipv4 ", nullptr},
        {"ipv4 hello", nullptr},        // no address: not applied
        {"ipv4 300.1.2.3/24", nullptr}, // out of range: not applied
        {"ipv4 10.1.2.3/99", nullptr},
        {"hello world", nullptr},
        {"", nullptr},
    };
    for (const Case& c : cases) {
        const std::optional<Ipv4Cidr> address = readAddress(c.message);
        if (c.expected) {
            ASSERT_TRUE(address) << c.message;
            EXPECT_EQ(address->toString(), c.expected);
        } else {
            EXPECT_FALSE(address) << c.message;
        }
    }
}

TEST(PeerProtocol, PeerIdsReadAsUnsignedDecimal) {
    struct Case {
        const char* text;
        std::optional<std::uint64_t> expected;
    } cases[] = {
        {"12345", 12345},
        {"0012345", 12345},
        {"  42", 42},
        {"42abc", 42},
        {"18446744073709551615", 18446744073709551615ull},
        {"18446744073709551616", std::nullopt}, // does not fit
        {"abc", std::nullopt},
        {"", std::nullopt},
        {"-", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(peer::readPeerId(c.text), c.expected) << '"' << c.text << '"';
    EXPECT_EQ(peer::peerIdText(18446744073709551615ull), "18446744073709551615");
    EXPECT_EQ(peer::peerIdText(7), "7");
}

// Only a well-formed IPv4 packet travels, and only as far as its own total
// length: bytes after it are not part of it.
TEST(PeerProtocol, OnlyWellFormedIpv4PacketsTravel) {
    struct Case {
        const char* what;
        std::uint8_t first;
        std::size_t totalLength; // as the header says
        std::size_t messageLength;
        std::optional<std::size_t> expected;
    } cases[] = {
        {"smallest", 0x45, 20, 20, 20},
        {"with payload", 0x45, 84, 84, 84},
        {"with options", 0x46, 24, 24, 24},
        {"trailing bytes are cut", 0x45, 60, 64, 60},
        {"shorter than a header", 0x45, 19, 19, std::nullopt},
        {"IPv6", 0x60, 20, 40, std::nullopt},
        {"not IP at all", 0x00, 20, 20, std::nullopt},
        {"header length below 20", 0x44, 20, 20, std::nullopt},
        {"header beyond the message", 0x4f, 60, 40, std::nullopt},
        {"total length beyond the message", 0x45, 200, 80, std::nullopt},
        {"total length inside the header", 0x46, 20, 24, std::nullopt},
        {"total length zero", 0x45, 0, 20, std::nullopt},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> packet(c.messageLength, 0);
        packet[0] = c.first;
        packet[2] = static_cast<std::uint8_t>(c.totalLength >> 8);
        packet[3] = static_cast<std::uint8_t>(c.totalLength);
        EXPECT_EQ(peer::ipv4PacketLength(packet.data(), packet.size()), c.expected) << c.what;
    }
}

TEST(PeerProtocol, AssignableAddressesLieInsideANetworkWithRoomForMembers) {
    for (const char* address : {"192.168.42.1/24", "192.168.42.254/24", "10.99.0.7/8"})
        EXPECT_TRUE(peer::isAssignable(Ipv4Cidr::parse(address))) << address;
    // The network's own address, its broadcast address, networks without room.
    for (const char* address : {"192.168.42.0/24", "192.168.42.255/24", "10.255.255.255/8",
                                "10.0.0.1/31", "10.0.0.1/32", "10.0.0.1/0"})
        EXPECT_FALSE(peer::isAssignable(Ipv4Cidr::parse(address))) << address;
}

std::optional<peer::Assignment> readOwner(const std::string& message) {
    return peer::readOwnerMessage(reinterpret_cast<const std::uint8_t*>(message.data()),
                                  message.size());
}

TEST(PeerProtocol, OwnerMessagesNameAnAddressAndAPeer) {
    const peer::Assignment assignment{ip("192.168.42.3"), 18446744073709551615ull};
    const std::string message = peer::ownerMessage(assignment);
    EXPECT_EQ(message, "owner 192.168.42.3 18446744073709551615");
    EXPECT_EQ(readOwner(message), assignment);
    for (const char* refused :
         {"owner", "owner ", "owner 192.168.42.3", "owner 192.168.42.3 ", "owner 192.168.42 7",
          "owner 192.168.42.3 -7", "owner 192.168.42.3 7x", "owner 192.168.42.3  7",
          "owner 192.168.42.3 18446744073709551616", "ipv4 192.168.42.3/24", "OWNER 1.2.3.4 7"})
        EXPECT_FALSE(readOwner(refused)) << '"' << refused << '"';
}

TEST(PeerProtocol, PacketAddresses) {
    std::array<std::uint8_t, 20> packet{0x45};
    const std::uint32_t source = ip("192.168.42.2"), destination = ip("192.168.42.3");
    std::memcpy(&packet[12], &source, 4);
    std::memcpy(&packet[16], &destination, 4);
    EXPECT_EQ(peer::sourceAddress(packet.data()), source);
    EXPECT_EQ(peer::destinationAddress(packet.data()), destination);
}

TEST(UnicastRoutes, AssignedAddressesGoToTheirOwner) {
    UnicastRoutes routes;
    routes.setLocalNetwork(Ipv4Cidr::parse("192.168.42.1/24"));
    EXPECT_FALSE(routes.ownerOf(ip("192.168.42.2")));
    routes.assign(ip("192.168.42.2"), 20);
    routes.assign(ip("192.168.42.3"), 30);
    EXPECT_EQ(routes.ownerOf(ip("192.168.42.2")), 20u);
    EXPECT_EQ(routes.ownerOf(ip("192.168.42.3")), 30u);
    routes.assign(ip("192.168.42.2"), 40); // the host assigned it again
    EXPECT_EQ(routes.ownerOf(ip("192.168.42.2")), 40u);
}

TEST(UnicastRoutes, GroupAddressesAlwaysGoToEveryone) {
    UnicastRoutes routes;
    routes.setLocalNetwork(Ipv4Cidr::parse("192.168.42.1/24"));
    for (const char* address :
         {"255.255.255.255", "192.168.42.255", "224.0.0.251", "239.255.255.250", "0.0.0.0"}) {
        routes.assign(ip(address), 20);
        EXPECT_FALSE(routes.ownerOf(ip(address))) << address;
    }
    routes.assign(ip("10.9.9.255"), 20); // another network's .255 is an ordinary address
    EXPECT_EQ(routes.ownerOf(ip("10.9.9.255")), 20u);
}

TEST(UnicastRoutes, StaysBounded) {
    UnicastRoutes routes;
    for (std::uint32_t i = 0; i < UnicastRoutes::maxEntries + 100; ++i)
        routes.assign(htonl(0x0a000000u + i + 1), 1);
    EXPECT_EQ(routes.ownerOf(htonl(0x0a000001u)), 1u);
    EXPECT_FALSE(routes.ownerOf(htonl(0x0a000000u + UnicastRoutes::maxEntries + 50)));
}

} // namespace
