#pragma once

// What two runs of the program agree on: the lobby's settings, the member
// metadata, the activity texts, the two channels and their two messages.

#include "adapter/Ipv4Cidr.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace peer {

constexpr std::uint32_t lobbyCapacity = 8;
constexpr std::int32_t lobbyTypePrivate = 1;

constexpr const char* peerIdKey = "$net.peer_id";
constexpr const char* routeKey = "$net.route";
constexpr std::size_t metadataValueSize = 4096;

constexpr std::int32_t activityTypePlaying = 0;
constexpr std::int32_t activityActionJoin = 1;
constexpr const char* hostActivityState = "Hosting a VPN";
constexpr const char* memberActivityState = "Connected to a VPN";

// Channel 0 carries one raw IPv4 packet per message, unreliably; channel 1
// carries address control messages, reliably.
constexpr std::uint8_t dataChannel = 0;
constexpr std::uint8_t controlChannel = 1;

// "ipv4 " followed by the address's text form; no NUL.
std::string addressMessage(const Ipv4Cidr& address);

// The address an address control message assigns. Nothing for any other text,
// and nothing for an address that does not parse: a member never puts a
// made-up address on its adapter.
std::optional<Ipv4Cidr> readAddressMessage(const std::uint8_t* data, std::size_t length);

// An address a host can hand out: inside a network with room for members, and
// neither that network's own address nor its broadcast address.
bool isAssignable(const Ipv4Cidr& address);

// Which member the host gave an address to: "owner a.b.c.d PEERID", on the
// control channel from the host to every member, so that unicast traffic to
// that address goes to that member alone.
struct Assignment {
    std::uint32_t address = 0; // network byte order
    std::uint64_t peerId = 0;
    bool operator==(const Assignment&) const = default;
};
std::string ownerMessage(const Assignment& assignment);
// Nothing for any other text: exactly the form ownerMessage writes.
std::optional<Assignment> readOwnerMessage(const std::uint8_t* data, std::size_t length);

// A member's peer id as its metadata carries it: plain unsigned decimal.
std::string peerIdText(std::uint64_t peerId);

// Reads a peer id as strtoull in base 10 does (leading blanks and a sign
// accepted, stops at the first non-digit). Nothing when the text has no
// digits or the number does not fit 64 bits.
std::optional<std::uint64_t> readPeerId(const std::string& text);

// Only well-formed IPv4 packets travel: version 4, a header of at least 20
// bytes that lies within the message, and a total length that covers the
// header and lies within the message. Returns that total length (bytes after
// it, such as link padding, are not part of the packet), or nothing.
std::optional<std::size_t> ipv4PacketLength(const std::uint8_t* packet, std::size_t length);

// The packet's source and destination addresses, in network byte order; the
// packet must be a well-formed IPv4 packet.
std::uint32_t sourceAddress(const std::uint8_t* packet);
std::uint32_t destinationAddress(const std::uint8_t* packet);

} // namespace peer
