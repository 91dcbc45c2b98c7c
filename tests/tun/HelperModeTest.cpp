// The library in a thread without CAP_NET_ADMIN, as in the window's process:
// its adapter is made and changed by the adapter helper, and carries packets.

#include "interfaces/WintunExports.h"
#include "tests/support/Ipv4Packets.h"
#include "tests/support/NetworkNamespace.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// Lowers the calling thread's effective set: CAP_NET_ADMIN stays permitted,
// so the thread could raise it again, but the library sees it missing.
void dropNetworkAdmin() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct sets[_LINUX_CAPABILITY_U32S_3]{};
    if (syscall(SYS_capget, &header, sets) != 0)
        throw std::runtime_error("capget");
    sets[CAP_NET_ADMIN / 32].effective &= ~(1u << (CAP_NET_ADMIN % 32));
    if (syscall(SYS_capset, &header, sets) != 0)
        throw std::runtime_error("capset");
}

// Names the adapter helper the library starts, for the test's length.
class HelperChoice {
public:
    explicit HelperChoice(const char* path) { setenv("VASKOR_ADAPTER_HELPER", path, 1); }
    ~HelperChoice() { unsetenv("VASKOR_ADAPTER_HELPER"); }
};

class HelperMode : public testing::Test {
protected:
    void SetUp() override { SKIP_UNLESS_NETWORK_ADMIN(); }
};

TEST_F(HelperMode, TheHelperMakesTheAdapterThatCarriesPacketsAndRemovesIt) {
    HelperChoice helper(VASKOR_TEST_ADAPTER_HELPER);
    inFreshNetworkNamespace([] {
        dropNetworkAdmin();
        // Proof that this thread cannot do it alone.
        int direct = open("/dev/net/tun", O_RDWR | O_CLOEXEC);
        ASSERT_GE(direct, 0);
        ifreq request{};
        std::strcpy(request.ifr_name, "probe");
        request.ifr_flags = IFF_TUN | IFF_NO_PI;
        EXPECT_NE(ioctl(direct, TUNSETIFF, &request), 0);
        EXPECT_EQ(errno, EPERM);
        close(direct);

        WintunAdapterHandle adapter =
            WintunCreateAdapter(u"Test", u"Helper Test", nullptr, nullptr);
        ASSERT_NE(adapter, nullptr) << std::strerror(errno);
        ASSERT_NE(if_nametoindex("Helper-Test"), 0u);
        EXPECT_TRUE(VaskorSetAdapterMtu(adapter, 1412));
        WintunSessionHandle session = WintunStartSession(adapter, 0x20000);
        ASSERT_NE(session, nullptr) << std::strerror(errno);
        EXPECT_EQ(WintunStartSession(adapter, 0x20000), nullptr);
        EXPECT_EQ(errno, EBUSY) << "one session per adapter";
        ASSERT_TRUE(VaskorAddAdapterAddress(adapter, ipv4Address("10.77.0.1"), htonl(0xFFFFFF00)));
        EXPECT_FALSE(VaskorAddAdapterAddress(adapter, ipv4Address("10.77.0.5"), htonl(0xFFFFFF00)))
            << "one address at a time";
        VaskorMarkAdapterPrivate(adapter);

        UdpSocket socket(ipv4Address("10.77.0.1"), 4000);
        ASSERT_EQ(socket.sendTo(ipv4Address("10.77.0.2"), 5000, sequencePayload(7, 100)), 0);
        bool seen = false;
        for (auto deadline = std::chrono::steady_clock::now() + 2s;
             !seen && std::chrono::steady_clock::now() < deadline;) {
            WintunDword size = 0;
            if (std::uint8_t* packet = WintunReceivePacket(session, &size)) {
                auto summary = summarise(packet, size);
                seen = summary && summary->destinationPort == 5000 && summary->sequence == 7;
                WintunReleaseReceivePacket(session, packet);
            } else {
                std::this_thread::sleep_for(1ms);
            }
        }
        EXPECT_TRUE(seen) << "the packet the kernel routed into the adapter";
        auto incoming =
            udpPacket(ipv4Address("10.77.0.2"), ipv4Address("10.77.0.1"), 5000, 4000, 200, 8);
        std::uint8_t* room = WintunAllocateSendPacket(session, incoming.size());
        ASSERT_NE(room, nullptr);
        std::copy(incoming.begin(), incoming.end(), room);
        WintunSendPacket(session, room);
        auto delivered = socket.receive(2s);
        ASSERT_TRUE(delivered);
        EXPECT_EQ(sequenceOf(*delivered), 8u);

        EXPECT_TRUE(VaskorRemoveAdapterAddress(adapter, ipv4Address("10.77.0.1")));
        EXPECT_FALSE(WintunDeleteAdapter(adapter, 0, nullptr));
        EXPECT_EQ(errno, EBUSY) << "a session holds it";
        WintunEndSession(session);
        EXPECT_TRUE(WintunDeleteAdapter(adapter, 0, nullptr));
        EXPECT_EQ(if_nametoindex("Helper-Test"), 0u);
        WintunFreeAdapter(adapter);
    });
}

TEST_F(HelperMode, FreeingTheOnlyHandleTakesTheAdapterAlong) {
    HelperChoice helper(VASKOR_TEST_ADAPTER_HELPER);
    inFreshNetworkNamespace([] {
        dropNetworkAdmin();
        WintunAdapterHandle adapter =
            WintunCreateAdapter(u"Test", u"Helper Test", nullptr, nullptr);
        ASSERT_NE(adapter, nullptr) << std::strerror(errno);
        ASSERT_NE(if_nametoindex("Helper-Test"), 0u);
        WintunFreeAdapter(adapter); // the helper ends with it and removes the interface
        EXPECT_EQ(if_nametoindex("Helper-Test"), 0u);
    });
}

TEST_F(HelperMode, EachReasonTheHelperCannotStartHasItsOwnCode) {
    char unrunnable[] = "/tmp/vaskor-helper-XXXXXX";
    int file = mkstemp(unrunnable);
    ASSERT_GE(file, 0);
    close(file);
    chmod(unrunnable, 0644); // no execute bit for anyone, root included
    struct Case {
        const char* helper;
        std::uint32_t code;
    };
    const Case cases[] = {
        {"/nonexistent/vaskor-adapter-helper", wintunHelperMissing},
        {unrunnable, wintunHelperNotAllowed},
    };
    for (const auto& each : cases) {
        HelperChoice helper(each.helper);
        inFreshNetworkNamespace([&] {
            dropNetworkAdmin();
            errno = 0;
            EXPECT_EQ(WintunCreateAdapter(u"Test", u"Helper Test", nullptr, nullptr), nullptr);
            EXPECT_EQ(static_cast<std::uint32_t>(errno), each.code) << each.helper;
            EXPECT_EQ(if_nametoindex("Helper-Test"), 0u);
        });
    }
    unlink(unrunnable);
}

} // namespace
