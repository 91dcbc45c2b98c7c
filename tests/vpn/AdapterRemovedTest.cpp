// A host run whose adapter another program deletes: the run ends with a
// message a person can read, and the process goes quiet instead of spinning
// on an adapter that will never deliver a packet again.

#include "tests/support/NetworkNamespace.h"
#include "vpn/Vpn.h"

#include <gtest/gtest.h>

#include <net/if.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

// Each run maps its own copy of the SDK library, kept for the life of the
// process by design.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:DiscordCreate\n";
}

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The CPU time of this whole process so far, from /proc, in seconds.
double processCpuSeconds() {
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The command name may hold spaces: the fields after it are counted from its ')'.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::stol(field);
        if (i == 15)
            stime = std::stol(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Polls every 10 ms, so that the waiting itself costs next to nothing.
template <typename Predicate> bool waitFor(Predicate done, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

TEST(AdapterRemoved, TheRunEndsWithTheMessageAndStaysIdle) {
    SKIP_UNLESS_NETWORK_ADMIN();
    setenv("VASKOR_SDK_CLIENT", "0", 1);
    inFreshNetworkNamespace([] {
        Vpn run(Ipv4Cidr::parse("192.168.42.1/24"));
        ASSERT_TRUE(waitFor([] { return if_nametoindex("Orvanti-VPN") != 0; }, 10s))
            << "the host run never made its adapter";
        ASSERT_FALSE(run.stopRequested());

        const double cpuBefore = processCpuSeconds();
        const auto start = Clock::now();
        ASSERT_EQ(std::system("ip link delete Orvanti-VPN"), 0);

        std::optional<std::string> error;
        waitFor(
            [&] {
                if (auto taken = run.takeError())
                    error = taken->what();
                return error.has_value();
            },
            5s);
        EXPECT_EQ(error.value_or("no error"), "The virtual adapter was removed.");
        EXPECT_TRUE(run.stopRequested());
        // Over the next seconds nothing more comes, and the process is quiet.
        std::optional<std::string> later;
        waitFor(
            [&] {
                if (auto message = run.takeMessage())
                    later = *message;
                if (auto taken = run.takeError())
                    later = taken->what();
                return later.has_value();
            },
            2s);
        EXPECT_FALSE(later) << *later;

        const double cpu = processCpuSeconds() - cpuBefore;
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("after the deletion: %.2f s of CPU in %.2f s\n", cpu, seconds);
        EXPECT_LT(cpu, 0.15 * seconds) << "the run kept a core busy";
    });
}

} // namespace
