#include "vpn/DiscoveryPackets.h"

#include <algorithm>
#include <cstring>

namespace discovery {

namespace {

constexpr std::uint8_t udpProtocol = 17;
constexpr std::size_t udpHeaderLength = 8;

std::uint16_t read16(const std::uint8_t* at) {
    return static_cast<std::uint16_t>(at[0] << 8 | at[1]);
}
std::uint32_t read32(const std::uint8_t* at) {
    return std::uint32_t{at[0]} << 24 | std::uint32_t{at[1]} << 16 | std::uint32_t{at[2]} << 8 |
           at[3];
}
void write16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}

// The ones' complement sum of 16-bit words, an odd last byte padded.
std::uint32_t sumWords(const std::uint8_t* data, std::size_t length, std::uint32_t sum = 0) {
    for (std::size_t i = 0; i + 1 < length; i += 2)
        sum += read16(data + i);
    if (length % 2)
        sum += std::uint32_t{data[length - 1]} << 8;
    return sum;
}
std::uint16_t fold(std::uint32_t sum) {
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

struct Layout {
    std::size_t headerLength = 0;
    std::size_t totalLength = 0;
};

// A well-formed unfragmented UDP packet: its header and total length.
bool readLayout(std::span<const std::uint8_t> packet, Layout& layout) {
    if (packet.size() < 20 || packet[0] >> 4 != 4)
        return false;
    layout.headerLength = std::size_t{packet[0] & 0x0fu} * 4;
    layout.totalLength = read16(&packet[2]);
    if (layout.headerLength < 20 || layout.totalLength > packet.size() ||
        layout.totalLength < layout.headerLength + udpHeaderLength)
        return false;
    const bool fragment = (read16(&packet[6]) & 0x3fff) != 0; // more fragments, or an offset
    if (packet[9] != udpProtocol || fragment)
        return false;
    const std::size_t udpLength = read16(&packet[layout.headerLength + 4]);
    return udpLength >= udpHeaderLength && udpLength <= layout.totalLength - layout.headerLength;
}

} // namespace

Kind kindOf(std::span<const std::uint8_t> packet) {
    Layout layout;
    if (!readLayout(packet, layout))
        return Kind::none;
    const std::uint32_t destination = read32(&packet[16]);
    if (destination == 0xffffffffu)
        return Kind::limitedBroadcast;
    const bool multicast = (destination & 0xf0000000u) == 0xe0000000u;
    const bool linkLocal = (destination & 0xffffff00u) == 0xe0000000u;
    return multicast && !linkLocal ? Kind::multicast : Kind::none;
}

std::uint16_t sourcePortOf(std::span<const std::uint8_t> packet) {
    Layout layout;
    return readLayout(packet, layout) ? read16(&packet[layout.headerLength]) : 0;
}

std::vector<std::uint8_t> withSource(std::span<const std::uint8_t> packet, std::uint32_t source) {
    Layout layout;
    if (!readLayout(packet, layout))
        return {};
    std::vector<std::uint8_t> copy(packet.begin(), packet.begin() + layout.totalLength);
    std::memcpy(&copy[12], &source, sizeof source);

    write16(&copy[10], 0);
    write16(&copy[10], fold(sumWords(copy.data(), layout.headerLength)));

    std::uint8_t* udp = copy.data() + layout.headerLength;
    const std::size_t udpLength = read16(udp + 4);
    write16(udp + 6, 0);
    // Pseudo-header: both addresses, the protocol and the UDP length.
    std::uint32_t sum = sumWords(&copy[12], 8);
    sum += udpProtocol;
    sum += static_cast<std::uint32_t>(udpLength);
    std::uint16_t checksum = fold(sumWords(udp, udpLength, sum));
    write16(udp + 6, checksum == 0 ? 0xffff : checksum); // 0 would mean "none"
    return copy;
}

TokenBucket::TokenBucket(Bound bound, Clock::time_point now)
    : bound(bound), tokens(bound.burst), last(now) {}

bool TokenBucket::take(Clock::time_point now) {
    if (now > last) {
        const double seconds = std::chrono::duration<double>(now - last).count();
        tokens = std::min<double>(bound.burst, tokens + seconds * bound.perSecond);
        last = now;
    }
    if (tokens < 1)
        return false;
    tokens -= 1;
    return true;
}

bool RecentDatagrams::seenBefore(std::span<const std::uint8_t> packet, Clock::time_point now) {
    Layout layout;
    if (!readLayout(packet, layout))
        return false;
    // FNV-1a over the destination, the UDP header and the payload.
    std::uint64_t key = 0xcbf29ce484222325u;
    auto mix = [&key](std::span<const std::uint8_t> bytes) {
        for (std::uint8_t byte : bytes)
            key = (key ^ byte) * 0x100000001b3u;
    };
    mix(packet.subspan(16, 4));
    std::span<std::uint8_t const> udp =
        packet.subspan(layout.headerLength, layout.totalLength - layout.headerLength);
    mix(udp.first(6)); // ports and length; the checksum covers the source
    mix(udp.subspan(udpHeaderLength));

    for (const Entry& entry : entries)
        if (entry.key == key && entry.seen != Clock::time_point{} && now - entry.seen < window)
            return true;
    entries[next] = Entry{key, now};
    next = (next + 1) % capacity;
    return false;
}

} // namespace discovery
