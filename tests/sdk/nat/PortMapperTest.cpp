// The port mapper alone behind a NAT-PMP router that grants short leases:
// it renews before the router would drop the mapping, and takes it back at
// the end without making its owner wait long.

#include "sdk/nat/PortMapper.h"
#include "tests/support/TestMachines.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <thread>

using namespace std::chrono;
using namespace std::chrono_literals;
using testsupport::Mapping;
using testsupport::TestMachines;
using testsupport::Translation;

namespace {

std::size_t countIn(const std::string& path, const std::string& word) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    const std::string all = text.str();
    std::size_t count = 0;
    for (auto at = all.find(word); at != std::string::npos; at = all.find(word, at + 1))
        ++count;
    return count;
}

template <typename Condition> bool waitFor(Condition condition, milliseconds limit) {
    const auto end = steady_clock::now() + limit;
    while (!condition()) {
        if (steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

TEST(PortMapper, RenewsBeforeTheLeaseEndsAndTakesTheMappingBack) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to create network namespaces";
    TestMachines machines({{Translation::keep, Mapping::natpmp}}, {1});
    ASSERT_TRUE(machines.ready);
    constexpr std::uint16_t port = 40123;
    const sdk::nat::PortMapperTimes times{500ms, 4s, 60s};
    // Made inside the machine: its thread stays in that network.
    auto mapper =
        machines.inside(1, [&] { return std::make_unique<sdk::nat::PortMapper>(port, times); });
    ASSERT_TRUE(waitFor([&] { return mapper->mapped().has_value(); }, 5s));
    EXPECT_EQ(mapper->mapped()->toString(), TestMachines::routerAddress(1) + ":40123");

    const std::string request = "port mapping request : 40123->";
    const std::string log = machines.routerLog(1);
    // Three requests span more than the first lease of 4 s.
    ASSERT_TRUE(waitFor([&] { return countIn(log, request) >= 3; }, 10s)) << log;
    const std::string forwarded = "ip netns exec " + machines.routerName(1) +
                                  " nft list chain inet filter prerouting_miniupnpd | grep -q "
                                  "' dport 40123 dnat '";
    EXPECT_TRUE(machines.shell(forwarded));
    EXPECT_EQ(mapper->mapped()->toString(), TestMachines::routerAddress(1) + ":40123");

    const auto stopping = steady_clock::now();
    mapper.reset();
    const auto took = steady_clock::now() - stopping;
    std::cout << "the mapper ended in " << duration_cast<microseconds>(took).count() / 1000.0
              << " ms" << std::endl;
    EXPECT_LT(took, 2s);
    EXPECT_TRUE(machines.shell("! " + forwarded));
}

// A router that maps nothing: discovery waits its whole time and NAT-PMP
// finds nobody. Ending then costs at most what discovery has left.
TEST(PortMapper, WithoutAMappingRouterOffersNothingAndEndsWithinTheDiscoveryTime) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to create network namespaces";
    TestMachines machines({{Translation::keep, Mapping::none}}, {1});
    ASSERT_TRUE(machines.ready);
    const sdk::nat::PortMapperTimes times{1000ms, 3600s, 60s};
    auto mapper =
        machines.inside(1, [&] { return std::make_unique<sdk::nat::PortMapper>(40124, times); });
    // Past one discovery and the NAT-PMP attempt: still nothing offered.
    ASSERT_FALSE(waitFor([&] { return mapper->changes() > 0; }, 2500ms));
    EXPECT_FALSE(mapper->mapped());

    // A second one, ended while its discovery waits.
    auto early =
        machines.inside(1, [&] { return std::make_unique<sdk::nat::PortMapper>(40125, times); });
    const auto stopping = steady_clock::now();
    early.reset();
    EXPECT_LT(steady_clock::now() - stopping, times.discovery + 500ms);
}

// A network without a default gateway: nothing to ask, and the attempt
// ends at once. It closes nothing it did not open: descriptor 0 here is a
// pipe of the test's (in a program, another core's socket may have it).
TEST(PortMapper, WithoutAGatewayEndsAtOnceAndLeavesOthersDescriptorsAlone) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to create network namespaces";
    TestMachines machines(1);
    ASSERT_TRUE(machines.ready);
    int ends[2] = {-1, -1};
    ASSERT_EQ(pipe(ends), 0);
    const int savedInput = dup(0);
    ASSERT_GE(savedInput, 0);
    ASSERT_EQ(dup2(ends[0], 0), 0);
    struct stat before {};
    ASSERT_EQ(fstat(0, &before), 0);

    auto mapper = machines.inside(1, [] { return std::make_unique<sdk::nat::PortMapper>(40126); });
    const bool settled = waitFor([&] { return mapper->settled(); }, 3s);
    mapper.reset();
    struct stat after {};
    const bool stillOpen = fcntl(0, F_GETFD) != -1 && fstat(0, &after) == 0;
    dup2(savedInput, 0);
    close(savedInput);
    close(ends[0]);
    close(ends[1]);
    EXPECT_TRUE(settled) << "no gateway: the first attempt ends without waiting";
    ASSERT_TRUE(stillOpen) << "the port mapper closed descriptor 0, which was not its own";
    EXPECT_EQ(after.st_ino, before.st_ino);
}

} // namespace
