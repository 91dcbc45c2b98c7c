// The library's adapter entry points, called directly, each test in a network
// namespace of its own.

#include "tests/support/NetworkNamespace.h"
#include "interfaces/WintunExports.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const char16_t* const pool = u"Orvanti VPN";
const char16_t* const name = u"Orvanti VPN";

bool interfaceExists(const char* interfaceName) {
    return if_nametoindex(interfaceName) != 0;
}

std::u16string adapterName(WintunAdapterHandle adapter) {
    WintunWchar buffer[wintunMaxAdapterName] = {};
    if (!WintunGetAdapterName(adapter, buffer))
        return u"(unreadable)";
    return buffer;
}

// Owns a handle; deletes the adapter too unless told it is gone.
struct AdapterOwner {
    WintunAdapterHandle handle;
    ~AdapterOwner() {
        if (handle != nullptr) {
            WintunDeleteAdapter(handle, 1, nullptr);
            WintunFreeAdapter(handle);
        }
    }
};

class WintunApi : public testing::Test {
protected:
    void SetUp() override { SKIP_UNLESS_NETWORK_ADMIN(); }
};

TEST_F(WintunApi, CreatesAPersistentInterfaceFoundByPoolAndName) {
    inFreshNetworkNamespace([] {
        WintunBool reboot = 0;
        WintunGuid guid{0x12345678, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}};
        AdapterOwner created{WintunCreateAdapter(pool, name, &guid, &reboot)};
        ASSERT_NE(created.handle, nullptr) << std::strerror(errno);
        EXPECT_EQ(reboot, 0);
        unsigned index = if_nametoindex("Orvanti-VPN");
        ASSERT_NE(index, 0u) << "the interface is named after the adapter";
        WintunLuid luid = 0;
        WintunGetAdapterLUID(created.handle, &luid);
        EXPECT_EQ(luid & 0xFFFFFFFF, index) << "the LUID carries the interface index";
        EXPECT_EQ(adapterName(created.handle), name);

        AdapterOwner opened{WintunOpenAdapter(pool, name)};
        ASSERT_NE(opened.handle, nullptr);
        WintunLuid openedLuid = 0;
        WintunGetAdapterLUID(opened.handle, &openedLuid);
        EXPECT_EQ(openedLuid, luid);
        WintunFreeAdapter(opened.handle);
        opened.handle = nullptr;

        for (auto [otherPool, otherName] :
             {std::pair{u"Other", name}, {pool, u"Other"}, {u"orvanti vpn", u"orvanti vpn"}}) {
            EXPECT_EQ(WintunOpenAdapter(otherPool, otherName), nullptr);
            EXPECT_EQ(errno, ENOENT);
        }
        EXPECT_TRUE(WintunDeleteAdapter(created.handle, 1, &reboot));
        EXPECT_FALSE(interfaceExists("Orvanti-VPN"));
        EXPECT_EQ(WintunOpenAdapter(pool, name), nullptr);
        EXPECT_EQ(reboot, 0);
        WintunFreeAdapter(created.handle);
        created.handle = nullptr;
    });
}

TEST_F(WintunApi, FindsAndRemovesAnAdapterLeftByAnEndedProcess) {
    inFreshNetworkNamespace([] {
        pid_t child = fork();
        if (child == 0) // creates, then ends without deleting: a crashed run
            _exit(WintunCreateAdapter(pool, name, nullptr, nullptr) != nullptr ? 0 : 1);
        int status = -1;
        waitpid(child, &status, 0);
        ASSERT_EQ(status, 0);
        ASSERT_TRUE(interfaceExists("Orvanti-VPN")) << "the interface outlives its process";
        WintunAdapterHandle stale = WintunOpenAdapter(pool, name);
        ASSERT_NE(stale, nullptr);
        EXPECT_TRUE(WintunDeleteAdapter(stale, 1, nullptr));
        WintunFreeAdapter(stale);
        EXPECT_FALSE(interfaceExists("Orvanti-VPN"));
    });
}

TEST_F(WintunApi, NeverTakesOverAForeignInterfaceOfTheSameName) {
    inFreshNetworkNamespace([] {
        int foreign = open("/dev/net/tun", O_RDWR | O_CLOEXEC);
        ASSERT_GE(foreign, 0);
        ifreq request{};
        std::strcpy(request.ifr_name, "Orvanti-VPN");
        request.ifr_flags = IFF_TUN | IFF_NO_PI;
        ASSERT_EQ(ioctl(foreign, TUNSETIFF, &request), 0);
        unsigned foreignIndex = if_nametoindex("Orvanti-VPN");

        EXPECT_EQ(WintunOpenAdapter(pool, name), nullptr) << "an interface without our alias";
        AdapterOwner ours{WintunCreateAdapter(pool, name, nullptr, nullptr)};
        ASSERT_NE(ours.handle, nullptr);
        EXPECT_TRUE(interfaceExists("Orvanti-VPN-1"));
        EXPECT_TRUE(WintunDeleteAdapter(ours.handle, 1, nullptr));
        EXPECT_EQ(if_nametoindex("Orvanti-VPN"), foreignIndex);
        close(foreign);
    });
}

TEST_F(WintunApi, EnumeratesThePoolsAdaptersUntilTheCallbackStops) {
    inFreshNetworkNamespace([] {
        AdapterOwner a{WintunCreateAdapter(u"Pool A", u"First", nullptr, nullptr)};
        AdapterOwner b{WintunCreateAdapter(u"Pool A", u"Second", nullptr, nullptr)};
        AdapterOwner c{WintunCreateAdapter(u"Pool B", u"Third", nullptr, nullptr)};
        ASSERT_TRUE(a.handle && b.handle && c.handle);
        struct Seen {
            std::vector<std::u16string> names;
            bool stopAfterFirst = false;
        };
        auto collect = [](WintunAdapterHandle adapter, WintunLParam param) -> WintunBool {
            auto* seen = reinterpret_cast<Seen*>(param);
            seen->names.push_back(adapterName(adapter));
            return !seen->stopAfterFirst;
        };
        Seen all;
        ASSERT_TRUE(WintunEnumAdapters(u"Pool A", collect, reinterpret_cast<WintunLParam>(&all)));
        std::sort(all.names.begin(), all.names.end());
        EXPECT_EQ(all.names, (std::vector<std::u16string>{u"First", u"Second"}));
        Seen first{{}, true};
        ASSERT_TRUE(WintunEnumAdapters(u"Pool A", collect, reinterpret_cast<WintunLParam>(&first)));
        EXPECT_EQ(first.names.size(), 1u);
    });
}

TEST_F(WintunApi, RenamingChangesWhatOpenFindsButNotTheInterface) {
    inFreshNetworkNamespace([] {
        AdapterOwner adapter{WintunCreateAdapter(pool, name, nullptr, nullptr)};
        ASSERT_NE(adapter.handle, nullptr);
        AdapterOwner other{WintunOpenAdapter(pool, name)};
        ASSERT_TRUE(WintunSetAdapterName(adapter.handle, u"Renamed \u00e9"));
        EXPECT_EQ(adapterName(other.handle), u"Renamed \u00e9") << "read from the system";
        EXPECT_EQ(WintunOpenAdapter(pool, name), nullptr);
        WintunAdapterHandle renamed = WintunOpenAdapter(pool, u"Renamed \u00e9");
        EXPECT_NE(renamed, nullptr);
        WintunFreeAdapter(renamed);
        EXPECT_TRUE(interfaceExists("Orvanti-VPN"));
        EXPECT_FALSE(WintunSetAdapterName(adapter.handle, u"bad\tname"));
        EXPECT_EQ(errno, EINVAL);
        WintunFreeAdapter(other.handle);
        other.handle = nullptr;
    });
}

TEST_F(WintunApi, DeletionRespectsOpenSessionsUnlessForced) {
    inFreshNetworkNamespace([] {
        AdapterOwner adapter{WintunCreateAdapter(pool, name, nullptr, nullptr)};
        ASSERT_NE(adapter.handle, nullptr);
        WintunSessionHandle session = WintunStartSession(adapter.handle, 0x20000);
        ASSERT_NE(session, nullptr);
        EXPECT_EQ(WintunStartSession(adapter.handle, 0x20000), nullptr);
        EXPECT_EQ(errno, EBUSY) << "one session per adapter";
        EXPECT_FALSE(WintunDeleteAdapter(adapter.handle, 0, nullptr));
        EXPECT_EQ(errno, EBUSY);
        EXPECT_TRUE(interfaceExists("Orvanti-VPN"));
        EXPECT_TRUE(WintunDeleteAdapter(adapter.handle, 1, nullptr));
        EXPECT_FALSE(interfaceExists("Orvanti-VPN"));
        WintunDword size = 0;
        EXPECT_EQ(WintunReceivePacket(session, &size), nullptr) << "the session is dead";
        WintunEndSession(session);
        EXPECT_FALSE(WintunDeleteAdapter(adapter.handle, 1, nullptr)) << "already gone";
        WintunFreeAdapter(adapter.handle);
        adapter.handle = nullptr;
    });
}

TEST_F(WintunApi, DeletingThePoolDriverRemovesOnlyThatPoolsAdapters) {
    inFreshNetworkNamespace([] {
        AdapterOwner one{WintunCreateAdapter(u"Pool A", u"One", nullptr, nullptr)};
        AdapterOwner two{WintunCreateAdapter(u"Pool A", u"Two", nullptr, nullptr)};
        AdapterOwner kept{WintunCreateAdapter(u"Pool B", u"Three", nullptr, nullptr)};
        ASSERT_TRUE(one.handle && two.handle && kept.handle);
        WintunBool reboot = 0;
        EXPECT_TRUE(WintunDeletePoolDriver(u"Pool A", &reboot));
        EXPECT_EQ(reboot, 0);
        EXPECT_FALSE(interfaceExists("One"));
        EXPECT_FALSE(interfaceExists("Two"));
        EXPECT_TRUE(interfaceExists("Three"));
    });
}

std::vector<std::u16string> logged;
void keepLogLine(WintunLoggerLevel level, const WintunWchar* message) {
    if (level == WintunLogErr)
        logged.emplace_back(message);
}

TEST_F(WintunApi, RefusesNamesItCannotKeepAndLogsWhy) {
    inFreshNetworkNamespace([] {
        logged.clear();
        WintunSetLogger(keepLogLine);
        std::u16string tooLong(128, u'x');
        for (auto [badPool, badName] : {std::pair<const char16_t*, const char16_t*>{nullptr, name},
                                        {pool, nullptr},
                                        {pool, u""},
                                        {pool, tooLong.c_str()},
                                        {u"tab\tpool", name}}) {
            EXPECT_EQ(WintunCreateAdapter(badPool, badName, nullptr, nullptr), nullptr);
            EXPECT_EQ(errno, EINVAL);
        }
        WintunSetLogger(nullptr);
        ASSERT_EQ(logged.size(), 5u);
        EXPECT_NE(logged[0].find(u"Invalid argument"), std::u16string::npos);
        EXPECT_EQ(WintunCreateAdapter(pool, u"", nullptr, nullptr), nullptr);
        EXPECT_EQ(logged.size(), 5u) << "no logger, no lines";
    });
}

TEST_F(WintunApi, ReportsTheRunningDriverVersion) {
    EXPECT_GE(WintunGetRunningDriverVersion(), 0x00010000u);
}

} // namespace
