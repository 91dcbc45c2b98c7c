#include "vpn/Vpn.h"
#include "tests/support/NetworkNamespace.h"

#include <gtest/gtest.h>

#include <atomic>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

// Each run maps its own copy of the SDK library, kept for the life of the
// process by design.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:DiscordCreate\n";
}

namespace {

using namespace std::chrono_literals;

// Each test starts a real run: a member run that nobody invites just loops.
class VpnRun : public testing::Test {
protected:
    void SetUp() override {
        setenv("VASKOR_SDK_CLIENT", "0", 1);
        unsetenv("VASKOR_SDK_UNAVAILABLE");
    }
};

template <typename Predicate> bool waitFor(Predicate done, std::chrono::milliseconds limit = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST_F(VpnRun, PendingItemsAreTakenOnceAndTheLaterReplacesTheEarlier) {
    Vpn run;
    EXPECT_FALSE(run.takeError());
    EXPECT_FALSE(run.takeMessage());

    std::thread worker([&] {
        run.postMessage("first message");
        run.postMessage("second message");
        run.fail("first failure");
        run.fail("second failure");
    });
    worker.join();

    const auto error = run.takeError();
    ASSERT_TRUE(error);
    EXPECT_STREQ(error->what(), "second failure");
    EXPECT_FALSE(run.takeError());
    const auto message = run.takeMessage();
    ASSERT_TRUE(message);
    EXPECT_EQ(*message, "second message");
    EXPECT_FALSE(run.takeMessage());
    EXPECT_TRUE(run.stopRequested()) << "a failure stops the run";
}

TEST_F(VpnRun, MessageDoesNotStopTheRun) {
    Vpn run;
    run.postMessage("Cannot join, already connected");
    EXPECT_FALSE(run.stopRequested());
    run.requestStop();
    EXPECT_TRUE(run.stopRequested());
    EXPECT_FALSE(run.takeError()) << "a stop without a failure stores nothing";
}

// A failure inside the SDK reaches the run as the call's result, and the run
// says what it always says for that result.
TEST_F(VpnRun, AFailureInsideTheSdkEndsTheRunWithItsUsualMessage) {
    struct Case {
        const char* entry;
        const char* error;
    };
    for (const Case& c :
         {Case{"createLobby", "Cannot create lobby"},
          Case{"DiscordCreate",
               "Cannot instantiate discord service. Make sure discord is running."}}) {
        setenv("VASKOR_SDK_FAULT", c.entry, 1);
        Vpn run(Ipv4Cidr::parse("192.168.42.1/24"));
        std::optional<std::runtime_error> error;
        EXPECT_TRUE(waitFor([&] { return (error = run.takeError()).has_value(); })) << c.entry;
        unsetenv("VASKOR_SDK_FAULT");
        if (error) {
            EXPECT_STREQ(error->what(), c.error) << c.entry;
        }
    }
}

TEST_F(VpnRun, ErrorOfAnEndedWorkerCanStillBeTaken) {
    setenv("VASKOR_SDK_UNAVAILABLE", "1", 1);
    Vpn run(Ipv4Cidr::parse("192.168.42.1/24"));
    std::optional<std::runtime_error> error;
    ASSERT_TRUE(waitFor([&] { return (error = run.takeError()).has_value(); }));
    EXPECT_STREQ(error->what(),
                 "Cannot instantiate discord service. Make sure discord is running.");
    EXPECT_TRUE(run.stopRequested());
    EXPECT_TRUE(run.isHostRun());
    EXPECT_EQ(run.configuredHostAddress(), Ipv4Cidr::parse("192.168.42.1/24"));
    // The run object outlives its worker: destroying it now only joins.
}

TEST_F(VpnRun, CountersAddUpAcrossThreads) {
    Vpn run;
    EXPECT_EQ(run.sentBytes(), 0u);
    EXPECT_EQ(run.receivedBytes(), 0u);
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t)
        workers.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                run.addSent(1500);
                run.addReceived(3);
            }
        });
    std::uint64_t lastSeen = 0;
    while (lastSeen < 4 * 10000 * 1500ull) {
        const std::uint64_t now = run.sentBytes();
        ASSERT_GE(now, lastSeen) << "the counter went back";
        lastSeen = now;
        std::this_thread::yield();
    }
    for (auto& worker : workers)
        worker.join();
    EXPECT_EQ(run.sentBytes(), 4 * 10000 * 1500ull);
    EXPECT_EQ(run.receivedBytes(), 4 * 10000 * 3ull);
}

TEST_F(VpnRun, AddressIsEmptyUntilSetThenTheLatest) {
    Vpn run;
    EXPECT_FALSE(run.address());
    std::thread([&] {
        run.setOwnAddress(Ipv4Cidr::parse("192.168.42.2/24"));
        run.setOwnAddress(Ipv4Cidr::parse("192.168.42.3/24"));
    }).join();
    ASSERT_TRUE(run.address());
    EXPECT_EQ(run.address()->toString(), "192.168.42.3/24");
}

TEST_F(VpnRun, InviteRequestIsTakenOncePerRequest) {
    const ScopedNetworkNamespace network; // a host run's adapter stays in a namespace of its own
    Vpn run(Ipv4Cidr::parse("192.168.42.1/24"));
    EXPECT_FALSE(run.takeInviteRequest());
    run.requestInvite();
    run.requestInvite();
    EXPECT_TRUE(run.takeInviteRequest());
    EXPECT_FALSE(run.takeInviteRequest());
}

TEST_F(VpnRun, WindowAndWorkerUseTheRunAtOnce) {
    Vpn run;
    std::set<std::string> stored;
    for (int i = 0; i < 2000; ++i)
        stored.insert("failure " + std::to_string(i));
    std::atomic<int> taken = 0;
    std::thread worker([&] {
        for (int i = 0; i < 2000; ++i) {
            run.postMessage("message " + std::to_string(i));
            run.setOwnAddress(Ipv4Cidr::parse("10.0.0.1/24").offset(i % 200));
            run.fail("failure " + std::to_string(i));
            // Half way, the window has taken an error while the worker still runs.
            if (i == 1000)
                waitFor([&] { return taken > 0; });
        }
    });
    std::string lastError;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (lastError != "failure 1999" && std::chrono::steady_clock::now() < deadline) {
        if (auto error = run.takeError()) {
            EXPECT_TRUE(stored.count(error->what())) << error->what();
            lastError = error->what();
            ++taken;
        }
        run.takeMessage();
        run.address();
    }
    worker.join();
    if (auto error = run.takeError())
        lastError = error->what();
    EXPECT_EQ(lastError, "failure 1999");
    EXPECT_GE(taken, 1);
}

// The worker's SDK core removes its control socket when it goes: once the
// run is destroyed, the worker has ended and taken its core with it.
TEST_F(VpnRun, DestroyingARunningRunStopsAndJoinsIt) {
    const std::filesystem::path socket = std::filesystem::temp_directory_path() /
                                         ("vaskor-vpn-test-" + std::to_string(getpid()) + ".sock");
    setenv("VASKOR_SDK_CONTROL_SOCKET", socket.c_str(), 1);
    auto run = std::make_unique<Vpn>();
    const bool started = waitFor([&] { return std::filesystem::exists(socket); });
    unsetenv("VASKOR_SDK_CONTROL_SOCKET");
    ASSERT_TRUE(started) << "the worker never created its core";
    EXPECT_FALSE(run->stopRequested());
    EXPECT_FALSE(run->takeError()) << "an uninvited member run just waits";
    run.reset();
    EXPECT_FALSE(std::filesystem::exists(socket)) << "the worker was still running";
}

} // namespace
