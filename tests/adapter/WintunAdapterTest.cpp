// The adapter as the engine uses it, over our Wintun library mapped from this
// program's embedded files; each test in a network namespace of its own.

#include "adapter/WintunAdapter.h"
#include "adapter/VirtualAdapter.h"
#include "platform/AddressConfig.h"
#include "resources/LibraryBinding.h"
#include "tests/support/Ipv4Packets.h"
#include "tests/support/NetworkNamespace.h"

#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ifaddrs.h>
#include <linux/if_tun.h>
#include <memory>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

const char* const interfaceName = "Orvanti-VPN";

// The IPv4 addresses on the adapter's interface, as a.b.c.d/n texts.
std::set<std::string> adapterAddresses() {
    std::set<std::string> found;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return found;
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET ||
            std::strcmp(entry->ifa_name, interfaceName) != 0)
            continue;
        Ipv4Cidr cidr;
        cidr.address = reinterpret_cast<sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr;
        cidr.prefix = static_cast<std::uint8_t>(__builtin_popcount(
            reinterpret_cast<sockaddr_in*>(entry->ifa_netmask)->sin_addr.s_addr));
        found.insert(cidr.toString());
    }
    freeifaddrs(list);
    return found;
}

int interfaceMtu() {
    ifreq request{};
    std::strcpy(request.ifr_name, interfaceName);
    int probe = socket(AF_INET, SOCK_DGRAM, 0);
    int rc = ioctl(probe, SIOCGIFMTU, &request);
    close(probe);
    return rc == 0 ? request.ifr_mtu : -1;
}

// A persistent TUN interface of this name that is not one of our adapters.
void makeForeignInterface(const std::string& name) {
    int tun = open("/dev/net/tun", O_RDWR | O_CLOEXEC);
    ifreq request{};
    name.copy(request.ifr_name, IFNAMSIZ - 1);
    request.ifr_flags = IFF_TUN | IFF_NO_PI;
    bool made =
        tun >= 0 && ioctl(tun, TUNSETIFF, &request) == 0 && ioctl(tun, TUNSETPERSIST, 1) == 0;
    close(tun);
    if (!made)
        throw std::system_error(errno, std::system_category(), "foreign interface " + name);
}

class WintunAdapterTest : public testing::Test {
protected:
    void SetUp() override { SKIP_UNLESS_NETWORK_ADMIN(); }
};

TEST_F(WintunAdapterTest, CreatesTheAdapterWithItsMtuAndRemovesItOnDestruction) {
    inFreshNetworkNamespace([] {
        {
            VirtualAdapter adapter;
            EXPECT_NE(if_nametoindex(interfaceName), 0u);
            EXPECT_EQ(interfaceMtu(), static_cast<int>(adapterMtu));
            auto before = std::chrono::steady_clock::now();
            while (adapter.receive().size() != 0) {
                // what the kernel sent when the interface came up
            }
            EXPECT_TRUE(adapter.receive().empty());
            EXPECT_LT(std::chrono::steady_clock::now() - before, 100ms) << "receiving is polling";
        }
        EXPECT_EQ(if_nametoindex(interfaceName), 0u);
    });
}

TEST_F(WintunAdapterTest, RemovesTheAdapterThatAnEndedRunLeftBehind) {
    inFreshNetworkNamespace([] {
        pid_t child = fork();
        if (child == 0) {
            try {
                new WintunAdapter(); // never destroyed: the process ends as if crashed
                _exit(0);
            } catch (...) {
                _exit(1);
            }
        }
        int status = -1;
        waitpid(child, &status, 0);
        ASSERT_EQ(status, 0);
        unsigned staleIndex = if_nametoindex(interfaceName);
        ASSERT_NE(staleIndex, 0u);

        VirtualAdapter adapter;
        unsigned freshIndex = if_nametoindex(interfaceName);
        EXPECT_NE(freshIndex, 0u);
        EXPECT_NE(freshIndex, staleIndex) << "a new interface under the same name";
        EXPECT_EQ(if_nametoindex("Orvanti-VPN-1"), 0u) << "the stale one is gone, not renamed";
    });
}

// The engine constructs the replacement before it destroys the old adapter:
// the old one's later clean-up must not take the new interface with it.
TEST_F(WintunAdapterTest, AReplacementSurvivesTheDestructionOfTheAdapterItReplaced) {
    inFreshNetworkNamespace([] {
        auto old = std::make_unique<VirtualAdapter>();
        unsigned oldIndex = if_nametoindex(interfaceName);
        VirtualAdapter replacement;
        unsigned newIndex = if_nametoindex(interfaceName);
        ASSERT_NE(newIndex, 0u);
        EXPECT_NE(newIndex, oldIndex);
        EXPECT_THROW(old->receive(), AdapterRemoved) << "its session died with its interface";
        old->send(udpPacket(ipv4Address("10.55.0.2"), ipv4Address("10.55.0.1"), 1, 2, 100));
        old.reset();
        EXPECT_EQ(if_nametoindex(interfaceName), newIndex);
        replacement.setAddress(Ipv4Cidr::parse("10.55.0.1/24"));
        EXPECT_EQ(adapterAddresses(), std::set<std::string>{"10.55.0.1/24"});
    });
}

TEST_F(WintunAdapterTest, ReportsAnAdapterThatCannotBeCreated) {
    inFreshNetworkNamespace([] {
        // Every name our library could give the interface is taken.
        makeForeignInterface(interfaceName);
        for (int n = 1; n < 100; ++n)
            makeForeignInterface(std::string(interfaceName) + "-" + std::to_string(n));
        try {
            VirtualAdapter adapter;
            FAIL() << "created";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "Cannot Create Adapter");
        }
    });
}

// The window's process holds no CAP_NET_ADMIN: the library's adapter helper
// makes the adapter, and each reason it cannot tells the person what to do.
TEST_F(WintunAdapterTest, WithoutTheCapabilityTheHelperMakesItOrTheFailureSaysWhatToDo) {
    char folder[] = "/tmp/vaskor-adapter-test-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string unrunnable = std::string(folder) + "/not-executable";
    const std::string unprivileged = std::string(folder) + "/unprivileged";
    std::system(("touch " + unrunnable).c_str());
    // The real helper, started without CAP_NET_ADMIN in its reach.
    std::system(("printf '#!/bin/sh\\nexec setpriv --bounding-set=-net_admin " +
                 std::string(VASKOR_TEST_ADAPTER_HELPER) + "\\n' > " + unprivileged +
                 " && chmod 0755 " + unprivileged)
                    .c_str());
    struct Case {
        std::string helper;
        const char* saysHas; // null: the adapter is made
    };
    const Case cases[] = {
        {VASKOR_TEST_ADAPTER_HELPER, nullptr},
        {"/nonexistent/vaskor-adapter-helper", "not installed. Reinstall"},
        {unrunnable, "only members of the group netdev"},
        {unprivileged, "not given the capability CAP_NET_ADMIN"},
    };
    for (const auto& each : cases) {
        setenv("VASKOR_ADAPTER_HELPER", each.helper.c_str(), 1);
        inFreshNetworkNamespace([&] {
            __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
            __user_cap_data_struct sets[_LINUX_CAPABILITY_U32S_3]{};
            ASSERT_EQ(syscall(SYS_capget, &header, sets), 0);
            sets[CAP_NET_ADMIN / 32].effective &= ~(1u << (CAP_NET_ADMIN % 32));
            ASSERT_EQ(syscall(SYS_capset, &header, sets), 0);
            try {
                VirtualAdapter adapter;
                EXPECT_EQ(each.saysHas, nullptr) << each.helper << " made the adapter";
                EXPECT_EQ(interfaceMtu(), static_cast<int>(adapterMtu));
                adapter.setAddress(Ipv4Cidr::parse("10.55.0.1/24"));
                adapter.setAddress(Ipv4Cidr::parse("10.55.0.3/24"));
                EXPECT_EQ(adapterAddresses(), std::set<std::string>{"10.55.0.3/24"});
            } catch (const std::runtime_error& error) {
                ASSERT_NE(each.saysHas, nullptr) << error.what();
                EXPECT_NE(std::string(error.what()).find(each.saysHas), std::string::npos)
                    << error.what();
            }
            EXPECT_EQ(if_nametoindex(interfaceName), 0u);
        });
    }
    unsetenv("VASKOR_ADAPTER_HELPER");
    std::system(("rm -rf " + std::string(folder)).c_str());
}

// The test plays the other members: it answers the kernel's ping through
// receive and send.
TEST_F(WintunAdapterTest, AnswersAPingThroughReceiveAndSend) {
    inFreshNetworkNamespace([] {
        VirtualAdapter adapter;
        adapter.setAddress(Ipv4Cidr::parse("10.55.0.1/24"));
        int ping = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        ASSERT_GE(ping, 0);
        std::uint8_t request[64] = {8, 0, 0, 0, 0x12, 0x34, 0, 1};
        std::uint32_t sum = 0;
        for (std::size_t i = 0; i < sizeof request; i += 2)
            sum += (request[i] << 8) | request[i + 1];
        sum = (sum & 0xFFFF) + (sum >> 16);
        std::uint16_t checksum = htons(static_cast<std::uint16_t>(~sum));
        std::memcpy(request + 2, &checksum, 2);
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_addr.s_addr = ipv4Address("10.55.0.2");
        ASSERT_EQ(sendto(ping, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&peer),
                         sizeof peer),
                  static_cast<ssize_t>(sizeof request));

        bool answered = false;
        auto deadline = std::chrono::steady_clock::now() + 1s;
        while (!answered && std::chrono::steady_clock::now() < deadline) {
            std::vector<std::uint8_t> packet = adapter.receive();
            if (packet.empty()) {
                std::this_thread::sleep_for(1ms);
            } else if (auto reply = echoReplyFor(packet)) {
                adapter.send(*reply);
                answered = true;
            }
        }
        ASSERT_TRUE(answered) << "the echo request came out of the adapter";
        pollfd wait{ping, POLLIN, 0};
        std::uint8_t reply[128];
        ssize_t length = 0;
        // The raw socket also sees the outgoing request on some kernels; read to the reply.
        while (poll(&wait, 1, 1000) == 1 && (length = recv(ping, reply, sizeof reply, 0)) > 0) {
            std::size_t header = (reply[0] & 0x0F) * 4u;
            if (reply[header] == 0)
                break;
            length = 0;
        }
        ASSERT_GT(length, 0) << "the kernel took the reply";
        std::size_t header = (reply[0] & 0x0F) * 4u;
        EXPECT_EQ(reply[header], 0);
        EXPECT_EQ(reply[header + 4], 0x12);
        EXPECT_EQ(reply[header + 7], 1);
        EXPECT_EQ(std::memcmp(&reply[12], &peer.sin_addr.s_addr, 4), 0);
        close(ping);
    });
}

TEST_F(WintunAdapterTest, SetsReplacesAndKeepsTheAddress) {
    inFreshNetworkNamespace([] {
        VirtualAdapter adapter;
        adapter.setAddress(Ipv4Cidr{}); // the all-zero value is the initial one: no change
        EXPECT_TRUE(adapterAddresses().empty());

        adapter.setAddress(Ipv4Cidr::parse("10.55.0.2/24"));
        EXPECT_EQ(adapterAddresses(), std::set<std::string>{"10.55.0.2/24"});

        // Removed behind its back: giving the same address again must change nothing.
        ASSERT_EQ(deleteInterfaceAddress(ipv4Address("10.55.0.2"), if_nametoindex(interfaceName)),
                  0);
        adapter.setAddress(Ipv4Cidr::parse("10.55.0.2/24"));
        EXPECT_TRUE(adapterAddresses().empty()) << "the same address twice does nothing";

        adapter.setAddress(Ipv4Cidr::parse("10.55.0.3/24"));
        EXPECT_EQ(adapterAddresses(), std::set<std::string>{"10.55.0.3/24"});
        adapter.setAddress(Ipv4Cidr::parse("172.20.9.1/16"));
        EXPECT_EQ(adapterAddresses(), std::set<std::string>{"172.20.9.1/16"})
            << "the old address goes first";
    });
}

TEST_F(WintunAdapterTest, ARefusedAddressGivesTheSystemErrorWithItsCode) {
    inFreshNetworkNamespace([] {
        VirtualAdapter adapter;
        adapter.setAddress(Ipv4Cidr::parse("10.55.0.2/24"));
        std::uint32_t context = 0, instance = 0;
        ASSERT_EQ(addInterfaceAddress(ipv4Address("10.55.0.9"), 0xFFFFFFFF, if_nametoindex("lo"),
                                      context, instance),
                  0);
        try {
            adapter.setAddress(Ipv4Cidr::parse("10.55.0.9/24"));
            FAIL() << "accepted an address that another interface holds";
        } catch (const std::system_error& error) {
            EXPECT_EQ(error.code(), std::error_code(EEXIST, std::system_category()));
            EXPECT_EQ(std::string(error.what()), std::system_category().message(EEXIST));
        }
        EXPECT_TRUE(adapterAddresses().empty()) << "the old address was removed first";

        adapter.setAddress(Ipv4Cidr::parse("10.55.0.2/24"));
        EXPECT_TRUE(adapterAddresses().empty()) << "still the current address: no change";
        adapter.setAddress(Ipv4Cidr::parse("10.55.0.4/24"));
        EXPECT_EQ(adapterAddresses(), std::set<std::string>{"10.55.0.4/24"});
    });
}

// An adapter whose interface has gone cannot take an address: a failure with
// the system's code, never a quiet return that looks like success.
TEST_F(WintunAdapterTest, AnAdapterWithoutItsInterfaceRefusesTheAddress) {
    inFreshNetworkNamespace([] {
        VirtualAdapter adapter;
        adapter.setAddress(Ipv4Cidr::parse("10.55.0.2/24"));
        ASSERT_EQ(std::system("ip link delete Orvanti-VPN"), 0);
        try {
            adapter.setAddress(Ipv4Cidr::parse("10.55.0.3/24"));
            FAIL() << "an address was taken without an interface";
        } catch (const std::system_error& error) {
            EXPECT_EQ(error.code(), std::error_code(EINVAL, std::system_category()));
        }
    });
}

// The adapter deleted under a run, as another program would: receiving says
// so, every time, where it once returned "nothing" forever while the wait
// handle stayed ready.
TEST_F(WintunAdapterTest, AnAdapterDeletedUnderItsSessionIsReportedRemoved) {
    inFreshNetworkNamespace([] {
        VirtualAdapter adapter;
        try {
            while (!adapter.receive().empty()) {
            }
        } catch (const AdapterRemoved&) {
            FAIL() << "removed before it was deleted";
        }
        ASSERT_EQ(std::system("ip link delete Orvanti-VPN"), 0);
        pollfd wait{static_cast<int>(reinterpret_cast<std::intptr_t>(adapter.readWaitHandle())),
                    POLLIN, 0};
        ASSERT_EQ(poll(&wait, 1, 1000), 1);
        for (int call = 0; call < 2; ++call)
            EXPECT_THROW(adapter.receive(), AdapterRemoved) << "call " << call;
        try {
            adapter.receive();
        } catch (const AdapterRemoved& removed) {
            EXPECT_STREQ(removed.what(), "The virtual adapter was removed.");
        }
        EXPECT_NO_THROW(adapter.send(std::vector<std::uint8_t>(40, 0x45)));
    });
}

// Holds the whole send ring on the first allocation after it is armed, as a
// driver that fell behind would.
struct RingHog {
    static inline WintunAllocateSendPacketFunc* realAllocate = nullptr;
    static inline WintunSessionHandle session = nullptr;
    static inline std::vector<std::uint8_t*> held;
    static inline bool armed = false;

    static std::uint8_t* allocate(WintunSessionHandle target, WintunDword size) {
        if (armed) {
            armed = false;
            session = target;
            // Down to the last byte; zero-filled, so the kernel drops them as not IP.
            for (WintunDword fill = 1400; fill > 0; fill /= 2)
                while (std::uint8_t* room = realAllocate(target, fill)) {
                    std::memset(room, 0, fill);
                    held.push_back(room);
                }
        }
        return realAllocate(target, size);
    }
};

TEST_F(WintunAdapterTest, AFullRingDropsAPacketSilentlyAndLaterPacketsPass) {
    inFreshNetworkNamespace([] {
        VirtualAdapter adapter;
        adapter.setAddress(Ipv4Cidr::parse("10.55.0.1/24"));
        UdpSocket socket(ipv4Address("10.55.0.1"), 4000);
        auto packet = [](std::uint32_t sequence) {
            return udpPacket(ipv4Address("10.55.0.2"), ipv4Address("10.55.0.1"), 5000, 4000, 600,
                             sequence);
        };

        RingHog::realAllocate = WintunApi.allocateSendPacket;
        WintunApi.allocateSendPacket = RingHog::allocate;
        RingHog::armed = true;
        EXPECT_NO_THROW(adapter.send(packet(1)));
        EXPECT_GT(RingHog::held.size(), 2000u) << "the 4 MiB ring was filled";
        for (std::uint8_t* room : RingHog::held)
            WintunApi.sendPacket(RingHog::session, room);
        RingHog::held.clear();
        WintunApi.allocateSendPacket = RingHog::realAllocate;

        adapter.send(packet(2));
        auto delivered = socket.receive(1s);
        ASSERT_TRUE(delivered);
        EXPECT_EQ(sequenceOf(*delivered), 2u) << "packet 1 was dropped, packet 2 passed";
        EXPECT_FALSE(socket.receive(100ms));
    });
}

} // namespace
