// The platform's interface calls on real interfaces, each test in a network
// namespace of its own.

#include "platform/AddressConfig.h"
#include "interfaces/WintunExports.h"
#include "platform/NetworkCategory.h"
#include "tests/support/Ipv4Packets.h"
#include "tests/support/NetworkNamespace.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <set>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <system_error>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

const std::uint32_t mask24 = htonl(0xFFFFFF00);

struct TestAdapter {
    explicit TestAdapter(const char16_t* name = u"Orvanti VPN", const char16_t* pool = u"Test") {
        adapter = WintunCreateAdapter(pool, name, nullptr, nullptr);
        if (adapter == nullptr)
            throw std::system_error(errno, std::system_category(), "WintunCreateAdapter");
        WintunGetAdapterLUID(adapter, &luid);
        index = static_cast<std::uint32_t>(luid);
    }
    ~TestAdapter() {
        if (session != nullptr)
            WintunEndSession(session);
        WintunDeleteAdapter(adapter, 1, nullptr);
        WintunFreeAdapter(adapter);
    }
    void startSession() { session = WintunStartSession(adapter, 0x400000); }

    // Destinations of the UDP packets the kernel routed into the adapter within a second.
    std::set<std::uint32_t> udpDestinations(std::size_t wanted) {
        std::set<std::uint32_t> seen;
        auto deadline = std::chrono::steady_clock::now() + 1s;
        while (seen.size() < wanted && std::chrono::steady_clock::now() < deadline) {
            WintunDword size = 0;
            std::uint8_t* packet = WintunReceivePacket(session, &size);
            if (packet == nullptr) {
                std::this_thread::sleep_for(1ms);
                continue;
            }
            if (auto summary = summarise(packet, size); summary && summary->protocol == IPPROTO_UDP)
                seen.insert(summary->destination);
            WintunReleaseReceivePacket(session, packet);
        }
        return seen;
    }

    WintunAdapterHandle adapter = nullptr;
    WintunSessionHandle session = nullptr;
    WintunLuid luid = 0;
    std::uint32_t index = 0;
};

struct InterfaceAddress {
    std::string interfaceName;
    std::uint32_t address, netmask, broadcast;
};

std::vector<InterfaceAddress> ipv4Addresses() {
    std::vector<InterfaceAddress> found;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return found;
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        auto field = [](sockaddr* address) {
            return address ? reinterpret_cast<sockaddr_in*>(address)->sin_addr.s_addr : 0u;
        };
        // Point-to-point interfaces report the broadcast field as the peer.
        found.push_back({entry->ifa_name, field(entry->ifa_addr), field(entry->ifa_netmask),
                         field(entry->ifa_broadaddr)});
    }
    freeifaddrs(list);
    return found;
}

bool holds(const std::string& interfaceName, const char* address) {
    for (const auto& entry : ipv4Addresses())
        if (entry.interfaceName == interfaceName && entry.address == ipv4Address(address))
            return true;
    return false;
}

class AddressConfig : public testing::Test {
protected:
    void SetUp() override { SKIP_UNLESS_NETWORK_ADMIN(); }
};

TEST_F(AddressConfig, TurnsAnAdapterLuidIntoItsInterfaceIndex) {
    inFreshNetworkNamespace([] {
        std::uint64_t luid = 0;
        {
            TestAdapter adapter;
            luid = adapter.luid;
            std::uint32_t index = 0;
            ASSERT_EQ(interfaceIndexOfLuid(adapter.luid, index), 0);
            EXPECT_EQ(index, if_nametoindex("Orvanti-VPN"));
        }
        std::uint32_t index = 0;
        for (std::uint64_t wrong : {luid, std::uint64_t{0}, std::uint64_t{1}, luid & 0xFFFFFFFF})
            EXPECT_EQ(interfaceIndexOfLuid(wrong, index), EINVAL) << wrong;
    });
}

TEST_F(AddressConfig, AddsAnAddressWithItsBroadcastAndDeletesItByContext) {
    inFreshNetworkNamespace([] {
        TestAdapter adapter;
        std::uint32_t context = 0, instance = 0;
        ASSERT_EQ(
            addInterfaceAddress(ipv4Address("10.66.0.1"), mask24, adapter.index, context, instance),
            0);
        EXPECT_NE(context, 0u);
        auto addresses = ipv4Addresses();
        auto entry = std::find_if(addresses.begin(), addresses.end(),
                                  [](const auto& a) { return a.interfaceName == "Orvanti-VPN"; });
        ASSERT_NE(entry, addresses.end());
        EXPECT_EQ(entry->address, ipv4Address("10.66.0.1"));
        EXPECT_EQ(entry->netmask, mask24);

        ifreq request{};
        std::strcpy(request.ifr_name, "Orvanti-VPN");
        int probe = socket(AF_INET, SOCK_DGRAM, 0);
        ASSERT_EQ(ioctl(probe, SIOCGIFBRDADDR, &request), 0);
        EXPECT_EQ(reinterpret_cast<sockaddr_in*>(&request.ifr_broadaddr)->sin_addr.s_addr,
                  ipv4Address("10.66.0.255"));
        ASSERT_EQ(ioctl(probe, SIOCGIFFLAGS, &request), 0);
        EXPECT_TRUE(request.ifr_flags & IFF_UP) << "brought up with its address";
        close(probe);

        EXPECT_EQ(deleteInterfaceAddress(context, instance), 0);
        EXPECT_FALSE(holds("Orvanti-VPN", "10.66.0.1"));
        EXPECT_EQ(deleteInterfaceAddress(context, instance), ENOENT);
    });
}

// Deleting our address never takes the same address from another interface,
// such as one that holds it now that ours was removed behind our back.
TEST_F(AddressConfig, DeletesOnlyTheAddressOnItsOwnInterface) {
    inFreshNetworkNamespace([] {
        TestAdapter adapter;
        std::uint32_t context = 0, instance = 0;
        ASSERT_EQ(
            addInterfaceAddress(ipv4Address("10.66.0.5"), mask24, adapter.index, context, instance),
            0);
        ASSERT_EQ(std::system("ip addr del 10.66.0.5/24 dev Orvanti-VPN && "
                              "ip addr add 10.66.0.5/32 dev lo"),
                  0);
        EXPECT_EQ(deleteInterfaceAddress(context, instance), ENOENT);
        EXPECT_TRUE(holds("lo", "10.66.0.5")) << "another interface's address was deleted";
    });
}

TEST_F(AddressConfig, RefusedAddressesGiveTheSystemsCode) {
    inFreshNetworkNamespace([] {
        TestAdapter adapter;
        std::uint32_t loContext = 0, instance = 0;
        ASSERT_EQ(addInterfaceAddress(ipv4Address("10.66.0.9"), htonl(0xFFFFFFFF),
                                      if_nametoindex("lo"), loContext, instance),
                  0);
        struct Refusal {
            const char* address;
            std::uint32_t mask;
            std::uint32_t index;
            int code;
        };
        const Refusal refusals[] = {
            {"10.66.0.9", mask24, adapter.index, EEXIST},            // held by another interface
            {"10.66.0.7", htonl(0xFF00FF00), adapter.index, EINVAL}, // not a prefix
            {"10.66.0.7", mask24, 999999, ENODEV},                   // no such interface
        };
        for (const auto& refusal : refusals) {
            std::uint32_t context = 12345;
            EXPECT_EQ(addInterfaceAddress(ipv4Address(refusal.address), refusal.mask, refusal.index,
                                          context, instance),
                      refusal.code)
                << refusal.address << " on " << refusal.index;
            EXPECT_EQ(context, 12345u) << "the context is left alone";
        }
        EXPECT_FALSE(holds("Orvanti-VPN", "10.66.0.9"));
        EXPECT_TRUE(holds("lo", "10.66.0.9"));
    });
}

// Games announce themselves by broadcast: both kinds must reach the adapter
// while it has its address, even with a default route elsewhere.
TEST_F(AddressConfig, BroadcastsLeaveThroughTheAdapterWhileItHasItsAddress) {
    inFreshNetworkNamespace([] {
        ASSERT_EQ(std::system("ip link add uplink0 type veth peer name uplink1 && "
                              "ip link set uplink0 up && ip link set uplink1 up && "
                              "ip addr add 192.0.2.1/24 dev uplink0 && "
                              "ip route add default via 192.0.2.254"),
                  0);
        TestAdapter adapter;
        adapter.startSession();
        ASSERT_NE(adapter.session, nullptr);
        std::uint32_t context = 0, instance = 0;
        ASSERT_EQ(
            addInterfaceAddress(ipv4Address("10.66.0.1"), mask24, adapter.index, context, instance),
            0);
        UdpSocket sender(0, 0);
        const std::uint32_t networkBroadcast = ipv4Address("10.66.0.255");
        const std::uint32_t limitedBroadcast = ipv4Address("255.255.255.255");
        ASSERT_EQ(sender.sendTo(networkBroadcast, 7000, sequencePayload(1, 40)), 0);
        ASSERT_EQ(sender.sendTo(limitedBroadcast, 7000, sequencePayload(2, 40)), 0);
        EXPECT_EQ(adapter.udpDestinations(2),
                  (std::set<std::uint32_t>{networkBroadcast, limitedBroadcast}));

        ASSERT_EQ(deleteInterfaceAddress(context, instance), 0);
        sender.sendTo(limitedBroadcast, 7000, sequencePayload(3, 40));
        sender.sendTo(networkBroadcast, 7000, sequencePayload(4, 40));
        EXPECT_TRUE(adapter.udpDestinations(1).empty()) << "not without the address";
    });
}

// The other way: broadcasts that other members' games sent, written into the
// adapter, reach the sockets listening here.
TEST_F(AddressConfig, BroadcastsWrittenIntoTheAdapterReachListeningSockets) {
    inFreshNetworkNamespace([] {
        TestAdapter adapter;
        adapter.startSession();
        ASSERT_NE(adapter.session, nullptr);
        std::uint32_t context = 0, instance = 0;
        ASSERT_EQ(
            addInterfaceAddress(ipv4Address("10.66.0.1"), mask24, adapter.index, context, instance),
            0);
        UdpSocket listener(0, 7001);
        std::uint32_t sequence = 0;
        for (const char* destination : {"10.66.0.255", "255.255.255.255"}) {
            auto packet = udpPacket(ipv4Address("10.66.0.2"), ipv4Address(destination), 7001, 7001,
                                    100, ++sequence);
            std::uint8_t* room = WintunAllocateSendPacket(adapter.session, 100);
            ASSERT_NE(room, nullptr);
            std::memcpy(room, packet.data(), packet.size());
            WintunSendPacket(adapter.session, room);
            auto received = listener.receive(1s);
            ASSERT_TRUE(received) << destination;
            EXPECT_EQ(sequenceOf(*received), sequence);
        }
    });
}

TEST_F(AddressConfig, SetsTheInterfaceMtu) {
    inFreshNetworkNamespace([] {
        TestAdapter adapter;
        ASSERT_EQ(setInterfaceMtu(adapter.luid, 1420), 0);
        ifreq request{};
        std::strcpy(request.ifr_name, "Orvanti-VPN");
        int probe = socket(AF_INET, SOCK_DGRAM, 0);
        ASSERT_EQ(ioctl(probe, SIOCGIFMTU, &request), 0);
        close(probe);
        EXPECT_EQ(request.ifr_mtu, 1420);
        EXPECT_EQ(setInterfaceMtu(0, 1420), EINVAL);
    });
}

// firewalld is not installed here: a stand-in firewall-cmd on PATH records how
// it is called.
TEST_F(AddressConfig, MarksEveryInterfaceBearingTheNameAsHomeZone) {
    inFreshNetworkNamespace([] {
        auto directory = std::filesystem::temp_directory_path() /
                         ("vaskor-firewall-" + std::to_string(getpid()));
        std::filesystem::create_directories(directory);
        auto log = directory / "calls";
        {
            std::ofstream script(directory / "firewall-cmd");
            script << "#!/bin/sh\necho \"$*\" >> '" << log.string() << "'\n";
        }
        std::filesystem::permissions(directory / "firewall-cmd", std::filesystem::perms::owner_all);
        std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
        setenv("PATH", (directory.string() + ":" + oldPath).c_str(), 1);

        {
            TestAdapter first(u"Orvanti VPN", u"Pool One");
            TestAdapter second(u"Orvanti VPN", u"Pool Two");
            TestAdapter other(u"Something else");
            markNamedNetworksPrivate(u"Orvanti VPN");
        }
        setenv("PATH", oldPath.c_str(), 1);
        std::ifstream calls(log);
        std::multiset<std::string> lines;
        for (std::string line; std::getline(calls, line);)
            lines.insert(line);
        std::filesystem::remove_all(directory);
        EXPECT_EQ(lines,
                  (std::multiset<std::string>{"--zone=home --change-interface=Orvanti-VPN",
                                              "--zone=home --change-interface=Orvanti-VPN-1"}));
    });
}

// A firewall-cmd that never answers (a hung firewalld) is ended, so the run's
// worker goes on.
TEST_F(AddressConfig, AFirewallCmdThatHangsIsEnded) {
    inFreshNetworkNamespace([] {
        auto directory = std::filesystem::temp_directory_path() /
                         ("vaskor-firewall-hang-" + std::to_string(getpid()));
        std::filesystem::create_directories(directory);
        auto pidFile = directory / "pid";
        {
            std::ofstream script(directory / "firewall-cmd");
            script << "#!/bin/sh\necho $$ > '" << pidFile.string() << "'\nexec sleep 3600\n";
        }
        std::filesystem::permissions(directory / "firewall-cmd", std::filesystem::perms::owner_all);
        std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
        setenv("PATH", (directory.string() + ":" + oldPath).c_str(), 1);
        {
            TestAdapter adapter(u"Orvanti VPN");
            markNamedNetworksPrivate(u"Orvanti VPN");
        }
        setenv("PATH", oldPath.c_str(), 1);
        pid_t hung = 0;
        std::ifstream(pidFile) >> hung;
        std::filesystem::remove_all(directory);
        ASSERT_GT(hung, 0) << "the stand-in never ran";
        EXPECT_EQ(kill(hung, 0), -1) << "the hung firewall-cmd is still there";
        EXPECT_EQ(errno, ESRCH);
    });
}

} // namespace
