#include "platform/LanSide.h"

// The socket headers before the IP helper's, which declares its rows after them.
#include <winsock2.h>
#include <ws2ipdef.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>
#include <mstcpip.h>
#include <netioapi.h>

#include <array>
#include <cstring>
#include <set>

// Windows sends a limited broadcast, and a multicast whose program chose no
// interface, through the interface with the lowest metric; joins without an
// interface land there too. The adapter usually has the lowest, so here the
// LAN is the side that loses out, as a broadcast helper would find it: the
// LAN interface is the one of the best default route other than the adapter.
// Its traffic is watched with a raw socket in receive-all mode on its
// address (which sees what the machine sends as well), copies go out through
// a raw socket with our own header bound to that address, and the groups
// local programs hold elsewhere are held on the adapter as on Linux.

namespace {

constexpr std::size_t largestPacket = 2048;
constexpr std::size_t largestGroups = 20;

// The IP helper's table functions are looked up when needed, not imported:
// Wine's IP helper lacks some, and a missing import ends the process at
// start instead of failing the call.
template <typename Function> Function* helperFunction(const char* name) {
    HMODULE helper = GetModuleHandleW(L"iphlpapi.dll");
    return helper
               ? reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(helper, name)))
               : nullptr;
}

using UnicastTableFunction = DWORD WINAPI(ADDRESS_FAMILY, PMIB_UNICASTIPADDRESS_TABLE*);
using ForwardTableFunction = DWORD WINAPI(ADDRESS_FAMILY, PMIB_IPFORWARD_TABLE2*);
using MulticastTableFunction = DWORD WINAPI(ADDRESS_FAMILY, PMIB_MULTICASTIPADDRESS_TABLE*);
using FreeTableFunction = void WINAPI(PVOID);

struct Interfaces {
    std::optional<std::uint32_t> adapterIndex;
    std::optional<std::uint32_t> lanIndex;
    std::optional<std::uint32_t> lanAddress;
};

Interfaces readInterfaces(std::uint32_t adapterAddress) {
    Interfaces found;
    auto* unicast = helperFunction<UnicastTableFunction>("GetUnicastIpAddressTable");
    auto* forward = helperFunction<ForwardTableFunction>("GetIpForwardTable2");
    auto* freeTable = helperFunction<FreeTableFunction>("FreeMibTable");
    if (!unicast || !forward || !freeTable)
        return found;
    MIB_UNICASTIPADDRESS_TABLE* addresses = nullptr;
    if (unicast(AF_INET, &addresses) != NO_ERROR)
        return found;
    for (ULONG i = 0; i < addresses->NumEntries; ++i)
        if (addresses->Table[i].Address.Ipv4.sin_addr.s_addr == adapterAddress)
            found.adapterIndex = addresses->Table[i].InterfaceIndex;
    MIB_IPFORWARD_TABLE2* routes = nullptr;
    if (found.adapterIndex && forward(AF_INET, &routes) == NO_ERROR) {
        ULONG bestMetric = ~ULONG{0};
        for (ULONG i = 0; i < routes->NumEntries; ++i) {
            const MIB_IPFORWARD_ROW2& route = routes->Table[i];
            if (route.DestinationPrefix.PrefixLength != 0 ||
                route.InterfaceIndex == *found.adapterIndex || route.Metric >= bestMetric)
                continue;
            bestMetric = route.Metric;
            found.lanIndex = route.InterfaceIndex;
        }
        freeTable(routes);
    }
    for (ULONG i = 0; found.lanIndex && i < addresses->NumEntries; ++i)
        if (addresses->Table[i].InterfaceIndex == *found.lanIndex) {
            found.lanAddress = addresses->Table[i].Address.Ipv4.sin_addr.s_addr;
            break;
        }
    freeTable(addresses);
    return found;
}

std::set<std::uint32_t> groupsHeldElsewhere(std::uint32_t adapterIndex) {
    std::set<std::uint32_t> groups;
    auto* multicast = helperFunction<MulticastTableFunction>("GetMulticastIpAddressTable");
    auto* freeTable = helperFunction<FreeTableFunction>("FreeMibTable");
    MIB_MULTICASTIPADDRESS_TABLE* table = nullptr;
    if (!multicast || !freeTable || multicast(AF_INET, &table) != NO_ERROR)
        return groups;
    for (ULONG i = 0; i < table->NumEntries && groups.size() < largestGroups; ++i) {
        const std::uint32_t group = ntohl(table->Table[i].Address.Ipv4.sin_addr.s_addr);
        const bool routable =
            (group & 0xf0000000u) == 0xe0000000u && (group & 0xffffff00u) != 0xe0000000u;
        if (routable && table->Table[i].InterfaceIndex != adapterIndex)
            groups.insert(htonl(group));
    }
    freeTable(table);
    return groups;
}

// The copies this side sent lately, by their bytes: the receive-all socket
// sees them leave like any other datagram of this machine.
class SentCopies {
public:
    void add(std::span<const std::uint8_t> packet) {
        keys[next] = keyOf(packet);
        next = (next + 1) % keys.size();
    }
    bool contains(std::span<const std::uint8_t> packet) const {
        const std::uint64_t key = keyOf(packet);
        for (std::uint64_t known : keys)
            if (known == key)
                return true;
        return false;
    }

private:
    // FNV-1a over all but the header's identification and checksum.
    static std::uint64_t keyOf(std::span<const std::uint8_t> packet) {
        std::uint64_t key = 0xcbf29ce484222325u;
        for (std::size_t i = 0; i < packet.size(); ++i)
            if (i != 4 && i != 5 && i != 10 && i != 11)
                key = (key ^ packet[i]) * 0x100000001b3u;
        return key;
    }
    std::array<std::uint64_t, 64> keys{};
    std::size_t next = 0;
};

class WindowsLanSide final : public LanSide {
public:
    WindowsLanSide(std::uint32_t adapterAddress, WSAEVENT event)
        : adapterAddress(adapterAddress), event(event) {
        refresh();
    }
    ~WindowsLanSide() override {
        closeSockets();
        if (mirror != INVALID_SOCKET)
            closesocket(mirror);
        WSACloseEvent(event);
        WSACleanup();
    }

    WaitableHandle readyHandle() const override { return event; }

    std::vector<std::uint8_t> receive() override {
        if (watch == INVALID_SOCKET)
            return {};
        std::vector<std::uint8_t> packet(largestPacket);
        for (;;) {
            const int size = recv(watch, reinterpret_cast<char*>(packet.data()),
                                  static_cast<int>(packet.size()), 0);
            if (size <= 0) {
                WSAResetEvent(event); // FD_READ is posted again by the next datagram
                return {};
            }
            std::span<const std::uint8_t> got(packet.data(), static_cast<std::size_t>(size));
            std::uint32_t source = 0;
            if (got.size() >= 20)
                std::memcpy(&source, got.data() + 12, sizeof source);
            if (got.size() < 20 || source != lan.lanAddress || sent.contains(got))
                continue; // arriving, or our own copy
            packet.resize(got.size());
            return packet;
        }
    }

    std::optional<std::uint32_t> lanAddress() const override { return lan.lanAddress; }

    int sendToLan(std::span<const std::uint8_t> packet) override {
        if (send == INVALID_SOCKET || packet.size() < 20)
            return WSAENETUNREACH;
        sockaddr_in to{};
        to.sin_family = AF_INET;
        std::memcpy(&to.sin_addr.s_addr, packet.data() + 16, sizeof to.sin_addr.s_addr);
        sent.add(packet);
        const int result = sendto(send, reinterpret_cast<const char*>(packet.data()),
                                  static_cast<int>(packet.size()), 0,
                                  reinterpret_cast<const sockaddr*>(&to), sizeof to);
        return result == static_cast<int>(packet.size()) ? 0 : WSAGetLastError();
    }

    void refresh() override {
        const Interfaces now = readInterfaces(adapterAddress);
        if (now.lanAddress != lan.lanAddress || now.adapterIndex != lan.adapterIndex) {
            closeSockets();
            lan = now;
            if (lan.adapterIndex && lan.lanAddress)
                openSockets(*lan.lanAddress);
        }
        if (lan.adapterIndex)
            mirrorGroups(*lan.adapterIndex);
    }

private:
    void openSockets(std::uint32_t address) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = address;
        watch = socket(AF_INET, SOCK_RAW, IPPROTO_IP);
        DWORD on = RCVALL_ON;
        DWORD returned = 0;
        if (watch == INVALID_SOCKET ||
            bind(watch, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
            WSAIoctl(watch, SIO_RCVALL, &on, sizeof on, nullptr, 0, &returned, nullptr, nullptr) !=
                0 ||
            WSAEventSelect(watch, event, FD_READ) != 0) {
            closeSockets();
            return;
        }
        send = socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
        const DWORD yes = 1;
        const DWORD no = 0;
        if (send == INVALID_SOCKET ||
            bind(send, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
            setsockopt(send, IPPROTO_IP, IP_HDRINCL, reinterpret_cast<const char*>(&yes),
                       sizeof yes) != 0 ||
            setsockopt(send, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&yes),
                       sizeof yes) != 0 ||
            setsockopt(send, IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char*>(&address),
                       sizeof address) != 0 ||
            setsockopt(send, IPPROTO_IP, IP_MULTICAST_LOOP, reinterpret_cast<const char*>(&no),
                       sizeof no) != 0)
            closeSockets();
    }

    void closeSockets() {
        for (SOCKET* held : {&watch, &send})
            if (*held != INVALID_SOCKET) {
                closesocket(*held);
                *held = INVALID_SOCKET;
            }
    }

    void mirrorGroups(std::uint32_t adapterIndex) {
        if (mirror == INVALID_SOCKET) {
            mirror = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
            sockaddr_in any{};
            any.sin_family = AF_INET;
            if (mirror == INVALID_SOCKET ||
                bind(mirror, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0)
                return;
        }
        const std::set<std::uint32_t> wanted = groupsHeldElsewhere(adapterIndex);
        auto change = [&](int option, std::uint32_t group) {
            ip_mreq request{};
            request.imr_multiaddr.s_addr = group;
            request.imr_interface.s_addr = adapterAddress;
            return setsockopt(mirror, IPPROTO_IP, option, reinterpret_cast<const char*>(&request),
                              sizeof request) == 0;
        };
        for (auto it = joined.begin(); it != joined.end();)
            if (!wanted.contains(*it)) {
                change(IP_DROP_MEMBERSHIP, *it);
                it = joined.erase(it);
            } else {
                ++it;
            }
        for (std::uint32_t group : wanted)
            if (!joined.contains(group) && change(IP_ADD_MEMBERSHIP, group))
                joined.insert(group);
    }

    std::uint32_t adapterAddress;
    WSAEVENT event;
    Interfaces lan;
    SOCKET watch = INVALID_SOCKET;
    SOCKET send = INVALID_SOCKET;
    SOCKET mirror = INVALID_SOCKET;
    std::set<std::uint32_t> joined;
    SentCopies sent;
};

} // namespace

std::unique_ptr<LanSide> LanSide::open(std::uint32_t adapterAddress, LanSideError& error) {
    WSADATA data;
    if (const int failed = WSAStartup(MAKEWORD(2, 2), &data); failed != 0) {
        error.reason = "cannot start Windows sockets (error " + std::to_string(failed) + ")";
        return nullptr;
    }
    WSAEVENT event = WSACreateEvent();
    if (event == WSA_INVALID_EVENT) {
        error.reason =
            "cannot create a socket event (error " + std::to_string(WSAGetLastError()) + ")";
        WSACleanup();
        return nullptr;
    }
    return std::make_unique<WindowsLanSide>(adapterAddress, event);
}
