// The addresses a core announces never include loopback, also when the
// interfaces cannot be read because no descriptor is free.

#include "sdk/os/LocalAddresses.h"
#include "sdk/os/linux/Inet6Flags.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/NetworkNamespace.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace {

using sdk::os::isLoopbackAddress;
using sdk::os::localIpv4Addresses;

bool anyLoopback(const std::vector<std::uint32_t>& addresses) {
    return std::any_of(addresses.begin(), addresses.end(), isLoopbackAddress);
}

TEST(LocalAddresses, NeverLoopback) {
    EXPECT_FALSE(anyLoopback(localIpv4Addresses()));
}

TEST(LocalAddresses, NeverLoopbackWhenNoDescriptorIsFree) {
    // In a child: it uses up its descriptors and reports by its exit status.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit low{64, 64};
        setrlimit(RLIMIT_NOFILE, &low);
        while (open("/dev/null", O_RDONLY | O_CLOEXEC) >= 0) {
        }
        _exit(anyLoopback(localIpv4Addresses()) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "127.0.0.1 announced when getifaddrs failed";
}

// Of an interface's IPv6 addresses only the usable global one joins
// the route: not link-local, unique-local, deprecated or on a down interface.
TEST(LocalAddresses, OnlyUsableGlobalIpv6Addresses) {
    SKIP_UNLESS_NETWORK_ADMIN();
    std::vector<sdk::os::Endpoint::Bytes> found;
    inFreshNetworkNamespace([&] {
        ASSERT_EQ(std::system("ip link add d0 type bridge && ip link set d0 up && "
                              "ip link add d1 type bridge && "
                              "ip -6 addr add 2001:db8::5/64 dev d0 nodad && "
                              "ip -6 addr add fe80::5/64 dev d0 nodad && "
                              "ip -6 addr add fd00::5/64 dev d0 nodad && "
                              "ip -6 addr add 2001:db8::6/64 dev d0 nodad preferred_lft 0 && "
                              "ip -6 addr add 2001:db8:1::7/64 dev d1 nodad"),
                  0);
        found = sdk::os::localIpv6Addresses();
    });
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0], *sdk::os::parseIpv6Address("2001:db8::5"));
}

// The kernel's list is read whole lines at a time; a line of another form
// (a list read while it changes) is left out instead of ending the core's
// pass with an exception, as a throwing number parser once did.
TEST(LocalAddresses, FlaggedIpv6AddressesFromTheKernelsList) {
    const std::string deprecated = "20010db8000000000000000000000006";
    const std::string usable = "20010db8000000000000000000000005";
    struct Case {
        const char* what;
        std::string list;
        std::vector<std::string> flagged;
    };
    const Case cases[] = {
        {"flags as the kernel writes them",
         usable + " 04 40 00 80     eth0\n" + deprecated + " 04 40 00 a0     eth0\n",
         {deprecated}},
        {"a last line without its end", deprecated + " 04 40 00 20 eth0", {deprecated}},
        {"flags that are not hex", deprecated + " 04 40 00 zz eth0\n", {}},
        {"flags beyond 32 bits", deprecated + " 04 40 00 1ffffffff20 eth0\n", {}},
        {"a signed number", deprecated + " 04 40 00 -20 eth0\n", {}},
        {"a line cut short", deprecated + " 04 40 00\n" + usable + " 04 40 00 20 d1\n", {usable}},
        {"an address that is not 32 hex digits", "2001db8 04 40 00 20 eth0\n", {}},
        {"an empty list", "", {}},
    };
    for (const auto& c : cases) {
        std::istringstream list(c.list);
        EXPECT_EQ(sdk::os::ipv6AddressesFlagged(list, 0x01 | 0x08 | 0x20 | 0x40), c.flagged)
            << c.what;
    }
}

} // namespace
