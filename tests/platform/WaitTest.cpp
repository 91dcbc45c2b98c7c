// The run's wait: a wake-up set by another thread ends it at once, whatever
// its time-out, and a cleared wake-up no longer does. The run waits up to a
// second when idle and relies on this to see its stop flag and
// the window's invite request at once.

#include "platform/Wait.h"
#include "platform/WakeEvent.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

// A wait of half a minute that ends within a few seconds was woken; a wait
// that was not woken fails the test by its length instead of hanging it.
constexpr std::chrono::microseconds longWait = std::chrono::seconds(30);
constexpr auto woken = 5s;

std::chrono::steady_clock::duration timedWait(std::span<const WaitableHandle> handles,
                                              std::chrono::microseconds timeout) {
    const auto start = std::chrono::steady_clock::now();
    waitForAny(handles, timeout);
    return std::chrono::steady_clock::now() - start;
}

TEST(RunWait, AWakeUpFromAnotherThreadEndsAWaitOfAnHour) {
    WakeEvent wake;
    // A null handle (no adapter yet) is left out.
    const std::array<WaitableHandle, 2> handles{nullptr, wake.handle()};
    std::atomic<bool> waiting = false;
    std::thread other([&] {
        while (!waiting)
            std::this_thread::yield();
        wake.signal();
    });
    waiting = true;
    EXPECT_LT(timedWait(handles, longWait), woken);
    other.join();
}

TEST(RunWait, AWakeUpGivenBeforeTheWaitIsKeptForIt) {
    WakeEvent wake;
    const std::array<WaitableHandle, 1> handles{wake.handle()};
    wake.signal();
    EXPECT_LT(timedWait(handles, longWait), woken);
    // Not read by the wait: the waiting thread clears it after it looked.
    EXPECT_LT(timedWait(handles, longWait), woken);
}

TEST(RunWait, ClearedWakeUpsNoLongerEndAWaitButTheNextOneDoes) {
    WakeEvent wake;
    const std::array<WaitableHandle, 1> handles{wake.handle()};
    wake.signal();
    wake.signal();
    wake.clear(); // one clear takes every signal given before it
    // Wine and Windows may end a timed wait up to a tick early.
    EXPECT_GE(timedWait(handles, 50ms), 40ms);
    wake.signal();
    EXPECT_LT(timedWait(handles, longWait), woken);
}

} // namespace
