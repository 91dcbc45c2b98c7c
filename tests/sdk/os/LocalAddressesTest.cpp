// The addresses a core announces never include loopback, also when the
// interfaces cannot be read because no descriptor is free.

#include "sdk/os/LocalAddresses.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

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

} // namespace
