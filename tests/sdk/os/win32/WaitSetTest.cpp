// The core's wait handle on Windows: one event that a datagram, a timer that
// is due and a wake-up set, and that is quiet once the work is taken.

#include "sdk/os/WaitSet.h"
#include "sdk/os/UdpSocket.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <stdexcept>

using namespace sdk::os;
using namespace std::chrono_literals;

namespace {

constexpr DWORD patience = 5000; // ms; the wait ends as soon as the event is set

bool isSet(const WaitSet& set, DWORD within = 0) {
    return WaitForSingleObject(reinterpret_cast<HANDLE>(set.handle()), within) == WAIT_OBJECT_0;
}

constexpr std::uint32_t loopback = 0x7f000001;

TEST(WaitSet, DatagramSetsTheHandleUntilEveryOneIsTaken) {
    UdpSocket receiver(0);
    UdpSocket sender(0);
    WaitSet set;
    set.watch(receiver.waitDescriptor());
    set.clearWakeUp();
    EXPECT_FALSE(isSet(set));

    const std::array<std::uint8_t, 3> first{1, 2, 3};
    const std::array<std::uint8_t, 2> second{4, 5};
    ASSERT_TRUE(sender.sendTo(Endpoint{loopback, receiver.port()}, first));
    ASSERT_TRUE(isSet(set, patience));
    ASSERT_TRUE(sender.sendTo(Endpoint{loopback, receiver.port()}, second));

    // One taken, one left: the handle stays set for the one left.
    std::array<std::uint8_t, 2> small{};
    Endpoint from;
    ASSERT_TRUE(isSet(set, patience));
    const auto size = receiver.receive(small, from);
    ASSERT_TRUE(size);
    EXPECT_EQ(*size, 2u) << "a longer datagram is cut to the buffer";
    EXPECT_EQ(from, (Endpoint{loopback, sender.port()}));
    // The second may still be on its way: wait for it, then take it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(patience);
    std::optional<std::size_t> next;
    while (!next && std::chrono::steady_clock::now() < deadline) {
        set.clearWakeUp();
        if (isSet(set, patience))
            next = receiver.receive(small, from);
    }
    ASSERT_TRUE(next);
    EXPECT_EQ(small, second);
    EXPECT_FALSE(receiver.receive(small, from)) << "receive never waits";
    set.clearWakeUp();
    EXPECT_FALSE(isSet(set)) << "nothing left: quiet";
}

TEST(WaitSet, TimerAndWakeUpSetItAndClearingQuietsIt) {
    UdpSocket socket(0);
    WaitSet set;
    set.watch(socket.waitDescriptor());
    set.clearWakeUp();

    const auto start = std::chrono::steady_clock::now();
    set.wakeAt(start + 50ms);
    EXPECT_FALSE(isSet(set)) << "not before its time";
    ASSERT_TRUE(isSet(set, patience));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 40ms);
    set.clearWakeUp();
    set.wakeAt(std::nullopt);
    EXPECT_FALSE(isSet(set));

    set.wakeAt(std::chrono::steady_clock::now() - 1ms);
    EXPECT_TRUE(isSet(set)) << "a passed deadline is due at once";
    set.clearWakeUp();
    set.wakeUp();
    EXPECT_TRUE(isSet(set));
    set.clearWakeUp();
    EXPECT_FALSE(isSet(set));

    // A later deadline keeps the earlier one.
    set.wakeAt(std::chrono::steady_clock::now() + 50ms);
    set.wakeAt(std::chrono::steady_clock::now() + 60s);
    EXPECT_TRUE(isSet(set, patience));
}

TEST(UdpSocket, PortInUseIsRefusedWithItsReason) {
    UdpSocket first(0);
    try {
        UdpSocket second(first.port());
        FAIL() << "a port in use was bound twice";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("cannot bind UDP port"), std::string::npos)
            << error.what();
    }
}

} // namespace
