// NAT-PMP where there is no default gateway (a test machine): no gateway, and
// no descriptor of anyone else's closed on the way. Descriptor 0 is the one
// at risk: the library's structure names it before it has a socket.

#include "sdk/nat/Gateway.h"
#include "tests/support/TestMachines.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

TEST(NatPmpGateway, NoDefaultGatewayClosesNothingOfAnyoneElse) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to create network namespaces";
    testsupport::TestMachines machines(1); // no default route in there
    ASSERT_TRUE(machines.ready);
    // Descriptor 0 is a pipe of ours for the test, as another core's socket
    // would be in a program started with standard input closed.
    const int saved = dup(0);
    int ends[2] = {-1, -1};
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(dup2(ends[0], 0), 0);
    const bool none = machines.inside(1, [] { return sdk::nat::openNatPmpGateway() == nullptr; });
    const bool stillOpen = fcntl(0, F_GETFD) != -1;
    dup2(saved, 0);
    close(saved);
    close(ends[0]);
    close(ends[1]);
    EXPECT_TRUE(none) << "a NAT-PMP gateway without a default route";
    EXPECT_TRUE(stillOpen) << "descriptor 0 was closed by a gateway that never opened";
}

} // namespace
