#include "platform/linux/LanTap.h"

#include <arpa/inet.h>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if_arp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iterator>

namespace {

// In the kernel, before a byte reaches us: only what this machine sent, as
// UDP to 255.255.255.255 or to a multicast group, unfragmented. A cooked
// socket's filter sees the IPv4 header at offset 0.
constexpr sock_filter captureProgram[] = {
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, static_cast<__u32>(SKF_AD_OFF + SKF_AD_PROTOCOL)),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_IP, 0, 13),
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, static_cast<__u32>(SKF_AD_OFF + SKF_AD_PKTTYPE)),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, PACKET_OUTGOING, 0, 11),
    BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 9), // protocol
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, IPPROTO_UDP, 0, 9),
    BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 6), // flags and fragment offset
    BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, 0x3fff, 7, 0),
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, 16), // destination
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0xffffffffu, 4, 0),
    BPF_STMT(BPF_ALU | BPF_AND | BPF_K, 0xffffff00u),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0xe0000000u, 3, 0),
    BPF_STMT(BPF_ALU | BPF_AND | BPF_K, 0xf0000000u),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0xe0000000u, 0, 1),
    BPF_STMT(BPF_RET | BPF_K, 0xffff),
    BPF_STMT(BPF_RET | BPF_K, 0),
};

} // namespace

std::optional<LanTap> LanTap::open(int& error) {
    // Protocol 0 until the filter is on: nothing arrives before it.
    const int descriptor = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (descriptor < 0) {
        error = errno;
        return std::nullopt;
    }
    LanTap tap(descriptor);
    const sock_fprog program{static_cast<unsigned short>(std::size(captureProgram)),
                             const_cast<sock_filter*>(captureProgram)};
    sockaddr_ll all{};
    all.sll_family = AF_PACKET;
    // Only taps of every protocol see what the machine sends; the filter
    // keeps IPv4.
    all.sll_protocol = htons(ETH_P_ALL);
    all.sll_ifindex = 0; // every interface
    if (setsockopt(descriptor, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0 ||
        bind(descriptor, reinterpret_cast<sockaddr*>(&all), sizeof all) != 0) {
        error = errno;
        return std::nullopt;
    }
    error = 0;
    return tap;
}

LanTap::~LanTap() {
    if (descriptor >= 0)
        close(descriptor);
}

std::optional<LanTap::Sent> LanTap::receive(std::span<std::uint8_t> buffer) {
    for (;;) {
        sockaddr_ll from{};
        socklen_t length = sizeof from;
        const ssize_t size = recvfrom(descriptor, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                      reinterpret_cast<sockaddr*>(&from), &length);
        if (size < 0)
            return std::nullopt;
        if (from.sll_pkttype == PACKET_OUTGOING && from.sll_hatype != ARPHRD_LOOPBACK)
            return Sent{static_cast<std::uint32_t>(from.sll_ifindex),
                        static_cast<std::size_t>(size)};
    }
}

int LanTap::send(std::span<const std::uint8_t> packet, std::uint32_t interfaceIndex,
                 bool ethernet) {
    if (packet.size() < 20)
        return EINVAL;
    std::uint32_t destination = 0;
    std::memcpy(&destination, packet.data() + 16, sizeof destination);
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_protocol = htons(ETH_P_IP);
    to.sll_ifindex = static_cast<int>(interfaceIndex);
    if (ethernet) {
        to.sll_halen = ETH_ALEN;
        const std::uint32_t group = ntohl(destination);
        const std::uint8_t broadcastMac[ETH_ALEN] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
        // A group's MAC: 01:00:5e and the low 23 bits of the group.
        const std::uint8_t groupMac[ETH_ALEN] = {0x01,
                                                 0x00,
                                                 0x5e,
                                                 static_cast<std::uint8_t>((group >> 16) & 0x7f),
                                                 static_cast<std::uint8_t>(group >> 8),
                                                 static_cast<std::uint8_t>(group)};
        std::memcpy(to.sll_addr, destination == 0xffffffffu ? broadcastMac : groupMac, ETH_ALEN);
    }
    // The kernel never hands a packet socket what it sent itself.
    const ssize_t sent = sendto(descriptor, packet.data(), packet.size(), 0,
                                reinterpret_cast<sockaddr*>(&to), sizeof to);
    return sent == static_cast<ssize_t>(packet.size()) ? 0 : errno;
}
