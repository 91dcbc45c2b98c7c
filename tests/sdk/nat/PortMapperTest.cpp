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
#include <vector>

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
    const std::string forwarded = "ip netns exec " + machines.routerName(1) +
                                  " nft list chain inet filter prerouting_miniupnpd | grep -q "
                                  "' dport 40123 dnat '";
    // Watched until four requests, which span more than the first lease of
    // 4 s: when each request reached the router, and that the router's rule
    // was there at every look (a mapper renewing late lets it lapse between).
    std::vector<steady_clock::time_point> requests;
    int looks = 0;
    int lapsed = 0;
    const auto watchEnd = steady_clock::now() + 14s;
    for (std::size_t seen = countIn(log, request); seen < 4 && steady_clock::now() < watchEnd;
         seen = countIn(log, request)) {
        while (requests.size() < seen)
            requests.push_back(steady_clock::now());
        ++looks;
        if (!machines.shell(forwarded))
            ++lapsed;
        std::this_thread::sleep_for(50ms);
    }
    while (requests.size() < countIn(log, request))
        requests.push_back(steady_clock::now());
    ASSERT_GE(requests.size(), 4u) << log;
    EXPECT_GT(looks, 20);
    EXPECT_EQ(lapsed, 0) << "the forwarding was missing at " << lapsed << " of " << looks
                         << " looks";
    // Renewed at about half the lease: well before it ends, and not in a loop.
    for (std::size_t i = 2; i < requests.size(); ++i) {
        const auto gap = duration_cast<milliseconds>(requests[i] - requests[i - 1]);
        std::cout << "renewal " << i - 1 << " after " << gap.count() << " ms" << std::endl;
        EXPECT_GT(gap, 1500ms);
        EXPECT_LT(gap, 3000ms);
    }
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
