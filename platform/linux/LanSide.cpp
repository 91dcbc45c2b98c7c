#include "platform/LanSide.h"

#include "platform/linux/GroupMirror.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

namespace {

// Where the system sends a multicast whose program chose no interface: any
// group outside the link-local block takes the same route.
constexpr std::uint32_t probeGroup = 0xeffffffau; // 239.255.255.250

// In the kernel, before a byte reaches us: only what this machine sent, as
// UDP to 255.255.255.255 or to a group outside 224.0.0.0/24, unfragmented.
// A cooked socket's filter sees the IPv4 header at offset 0.
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

// A discovery datagram is small; anything longer is not one and is cut.
constexpr std::size_t largestPacket = 2048;

struct InterfaceView {
    std::map<std::uint32_t, std::set<std::uint32_t>> addresses; // index -> its IPv4 addresses
    std::optional<std::uint32_t> indexOf(std::uint32_t address) const {
        for (const auto& [index, held] : addresses)
            if (held.contains(address))
                return index;
        return std::nullopt;
    }
};

InterfaceView readInterfaces() {
    InterfaceView view;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return view;
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        const unsigned index = if_nametoindex(entry->ifa_name);
        if (index == 0)
            continue;
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        view.addresses[index].insert(address->sin_addr.s_addr);
    }
    freeifaddrs(list);
    return view;
}

// The source address the system picks for a multicast with no interface
// chosen, from a route lookup; nothing without such a route.
std::optional<std::uint32_t> multicastSourceAddress() {
    const int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return std::nullopt;
    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(9);
    group.sin_addr.s_addr = htonl(probeGroup);
    sockaddr_in local{};
    socklen_t length = sizeof local;
    const bool found = connect(probe, reinterpret_cast<sockaddr*>(&group), sizeof group) == 0 &&
                       getsockname(probe, reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
                       local.sin_addr.s_addr != 0;
    close(probe);
    return found ? std::optional(local.sin_addr.s_addr) : std::nullopt;
}

class LinuxLanSide final : public LanSide {
public:
    LinuxLanSide(int descriptor, std::uint32_t adapterAddress)
        : descriptor(descriptor), adapterAddress(adapterAddress) {
        refresh();
    }
    ~LinuxLanSide() override { close(descriptor); }

    WaitableHandle readyHandle() const override { return waitableOf(descriptor); }

    std::vector<std::uint8_t> receive() override {
        std::vector<std::uint8_t> packet(largestPacket);
        for (;;) {
            sockaddr_ll from{};
            socklen_t length = sizeof from;
            const ssize_t size = recvfrom(descriptor, packet.data(), packet.size(), MSG_DONTWAIT,
                                          reinterpret_cast<sockaddr*>(&from), &length);
            if (size < 0)
                return {};
            if (accepted(from, packet.data(), static_cast<std::size_t>(size))) {
                packet.resize(static_cast<std::size_t>(size));
                return packet;
            }
        }
    }

    std::optional<std::uint32_t> lanAddress() const override {
        return lan ? std::optional(lan->address) : std::nullopt;
    }

    int sendToLan(std::span<const std::uint8_t> packet) override {
        if (!lan || packet.size() < 20)
            return ENETUNREACH;
        std::uint32_t destination = 0;
        std::memcpy(&destination, packet.data() + 16, sizeof destination);
        sockaddr_ll to{};
        to.sll_family = AF_PACKET;
        to.sll_protocol = htons(ETH_P_IP);
        to.sll_ifindex = static_cast<int>(lan->index);
        if (lan->ethernet) {
            to.sll_halen = ETH_ALEN;
            const std::uint32_t group = ntohl(destination);
            const std::uint8_t broadcastMac[ETH_ALEN] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
            // A group's MAC: 01:00:5e and the low 23 bits of the group.
            const std::uint8_t groupMac[ETH_ALEN] = {
                0x01,
                0x00,
                0x5e,
                static_cast<std::uint8_t>((group >> 16) & 0x7f),
                static_cast<std::uint8_t>(group >> 8),
                static_cast<std::uint8_t>(group)};
            std::memcpy(to.sll_addr, destination == 0xffffffffu ? broadcastMac : groupMac,
                        ETH_ALEN);
        }
        // Sent through the capturing socket itself, which the kernel never
        // hands its own packets.
        const ssize_t sent = sendto(descriptor, packet.data(), packet.size(), 0,
                                    reinterpret_cast<sockaddr*>(&to), sizeof to);
        return sent == static_cast<ssize_t>(packet.size()) ? 0 : errno;
    }

    void refresh() override {
        interfaces = readInterfaces();
        adapterIndex = interfaces.indexOf(adapterAddress);
        lan.reset();
        // Without the adapter in sight nothing is told apart from it: no copies.
        if (!adapterIndex)
            return;
        if (const std::optional<std::uint32_t> source = multicastSourceAddress()) {
            const std::optional<std::uint32_t> index = interfaces.indexOf(*source);
            if (index && index != adapterIndex)
                lan = LanInterface{*index, *source, isEthernet(*index)};
        }
        groups.mirrorOnto(*adapterIndex);
    }

private:
    struct LanInterface {
        std::uint32_t index = 0;
        std::uint32_t address = 0;
        bool ethernet = true;
    };

    static bool isEthernet(std::uint32_t index) {
        char name[IF_NAMESIZE] = {};
        if (if_indextoname(index, name) == nullptr)
            return true;
        // The link type, as the system lists it per interface.
        const std::string path = std::string("/sys/class/net/") + name + "/type";
        FILE* file = std::fopen(path.c_str(), "r");
        if (file == nullptr)
            return true;
        int type = ARPHRD_ETHER;
        const bool read = std::fscanf(file, "%d", &type) == 1;
        std::fclose(file);
        return !read || type == ARPHRD_ETHER;
    }

    // Sent by a local program, not by us, and not something this machine
    // passed on for another (a bridge's ports, forwarding): the source is an
    // address of the very interface the packet left through.
    bool accepted(const sockaddr_ll& from, const std::uint8_t* packet, std::size_t size) const {
        if (from.sll_pkttype != PACKET_OUTGOING || from.sll_hatype == ARPHRD_LOOPBACK || size < 20)
            return false;
        const auto index = static_cast<std::uint32_t>(from.sll_ifindex);
        if (!adapterIndex || index == adapterIndex)
            return false;
        std::uint32_t source = 0;
        std::memcpy(&source, packet + 12, sizeof source);
        const auto held = interfaces.addresses.find(index);
        return held != interfaces.addresses.end() && held->second.contains(source);
    }

    int descriptor;
    std::uint32_t adapterAddress;
    InterfaceView interfaces;
    std::optional<std::uint32_t> adapterIndex;
    std::optional<LanInterface> lan;
    GroupMirror groups;
};

} // namespace

std::unique_ptr<LanSide> LanSide::open(std::uint32_t adapterAddress, LanSideError& error) {
    // Protocol 0 until the filter is on: nothing arrives before it.
    const int descriptor = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (descriptor < 0) {
        error.noRights = errno == EPERM || errno == EACCES;
        error.reason = std::string("cannot watch the LAN: ") + std::strerror(errno);
        return nullptr;
    }
    const sock_fprog program{static_cast<unsigned short>(std::size(captureProgram)),
                             const_cast<sock_filter*>(captureProgram)};
    sockaddr_ll all{};
    all.sll_family = AF_PACKET;
    // Only taps of every protocol see what the machine sends; the filter
    // keeps IPv4.
    all.sll_protocol = htons(ETH_P_ALL);
    all.sll_ifindex = 0; // every interface; the adapter is left out per packet
    if (setsockopt(descriptor, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0 ||
        bind(descriptor, reinterpret_cast<sockaddr*>(&all), sizeof all) != 0) {
        error.reason = std::string("cannot watch the LAN: ") + std::strerror(errno);
        close(descriptor);
        return nullptr;
    }
    return std::make_unique<LinuxLanSide>(descriptor, adapterAddress);
}
