// The addresses a core announces never include loopback, also when the
// interfaces cannot be read because no descriptor is free.

#include "sdk/os/LocalAddresses.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/NetworkNamespace.h"

#include <algorithm>
#include <cstdlib>

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

} // namespace
