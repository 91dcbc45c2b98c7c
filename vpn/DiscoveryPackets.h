#pragma once

// The datagrams that LAN games announce and look for each other with, and
// what is needed to copy them between the VPN and the physical LAN: which
// ones qualify, the copy with another source address, and the bounds on how
// many copies a machine makes.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace discovery {

// Limited broadcast (255.255.255.255) or an IPv4 multicast group outside the
// link-local block 224.0.0.0/24, which carries the LAN's own protocols
// (IGMP, mDNS, routers) and stays on its link.
enum class Kind { none, limitedBroadcast, multicast };

// What a well-formed, unfragmented UDP packet is sent to; none for anything
// else (other protocols, fragments, malformed or truncated packets).
Kind kindOf(std::span<const std::uint8_t> packet);

// Copies go out to the LAN only from ports that any program may send from:
// the well-known ones below belong to the system's services (DHCP, NetBIOS),
// which no member speaks for.
constexpr std::uint16_t lowestLanCopyPort = 1024;

// The UDP source port of a packet of a Kind other than none.
std::uint16_t sourcePortOf(std::span<const std::uint8_t> packet);

// The packet with another source address (network byte order), its header
// and UDP checksums computed afresh (a captured packet may carry a checksum
// its interface was to fill in); bytes after the IPv4 total length are
// dropped. The packet must be of a Kind other than none.
std::vector<std::uint8_t> withSource(std::span<const std::uint8_t> packet, std::uint32_t source);

// Copies allowed per direction and machine: a burst, then a steady rate. A
// LAN game announces itself about once a second and a server list asks a few
// ports at once, well inside it; a program gone wild is cut to the rate.
struct Bound {
    std::uint32_t burst = 64;
    std::uint32_t perSecond = 32;
};

class TokenBucket {
public:
    using Clock = std::chrono::steady_clock;
    explicit TokenBucket(Bound bound, Clock::time_point now = Clock::now());
    // True when one more datagram may pass now.
    bool take(Clock::time_point now = Clock::now());

private:
    Bound bound;
    double tokens;
    Clock::time_point last;
};

// The datagrams copied lately, so that one a program sent on two interfaces
// (a game that announces on each) reaches the other side once. Keyed by what
// a copy keeps: destination, ports and payload, not the source address.
class RecentDatagrams {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds window{200};
    static constexpr std::size_t capacity = 64;
    // True when the same datagram was seen within the window; records it.
    bool seenBefore(std::span<const std::uint8_t> packet, Clock::time_point now = Clock::now());

private:
    struct Entry {
        std::uint64_t key = 0;
        Clock::time_point seen;
    };
    Entry entries[capacity];
    std::size_t next = 0;
};

} // namespace discovery
