// The test routers themselves, as the tests that cross them rely on: a router
// of kind keep shows one public port for every destination, one of kind
// random a new port per destination; neither lets a datagram in that no
// machine behind it asked for; flushing forgets the translations; a cut
// router carries nothing until it is put back.

#include "tests/support/TestMachines.h"
#include "tests/support/TestUdpSocket.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <memory>
#include <thread>

using namespace std::chrono_literals;
using testsupport::Mapping;
using testsupport::TestMachines;
using testsupport::TestUdpSocket;
using testsupport::Translation;

namespace {

constexpr std::uint32_t internetAddress(int last) {
    return std::uint32_t{11} << 24 | std::uint32_t{2} << 16 | static_cast<std::uint32_t>(last);
}

struct Arrival {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
};

// The next datagram within a second, and where it came from.
std::optional<Arrival> arrival(TestUdpSocket& socket) {
    const auto end = std::chrono::steady_clock::now() + 1s;
    Arrival from;
    while (std::chrono::steady_clock::now() < end) {
        if (socket.receive(&from.address, &from.port))
            return from;
        std::this_thread::sleep_for(5ms);
    }
    return std::nullopt;
}

class TopologyTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root to create network namespaces";
        // Machine 1 behind router 1 (keep), 2 behind router 2 (random), 3 on
        // the internet.
        machines = std::make_unique<TestMachines>(
            std::vector<testsupport::Router>{{Translation::keep, Mapping::none},
                                             {Translation::random, Mapping::none}},
            std::vector<int>{1, 2, 0});
        ASSERT_TRUE(machines->ready);
        for (int i = 1; i <= 3; ++i)
            sockets[i - 1] = machines->inside(
                i, [] { return std::make_unique<TestUdpSocket>(std::uint32_t{INADDR_ANY}); });
        server2 = machines->inside(
            3, [] { return std::make_unique<TestUdpSocket>(std::uint32_t{INADDR_ANY}); });
    }

    // Where machine i's datagram to the server's socket appears to come from.
    std::optional<Arrival> sendFrom(int i, TestUdpSocket& to) {
        const std::array<std::uint8_t, 1> byte{static_cast<std::uint8_t>(i)};
        sockets[i - 1]->sendTo(internetAddress(103), to.port(), byte);
        return arrival(to);
    }

    std::unique_ptr<TestMachines> machines;
    std::array<std::unique_ptr<TestUdpSocket>, 3> sockets;
    std::unique_ptr<TestUdpSocket> server2; // a second port of machine 3
};

TEST_F(TopologyTest, KeepShowsOnePortRandomOnePerDestination) {
    TestUdpSocket& server1 = *sockets[2];
    const auto keepFirst = sendFrom(1, server1), keepSecond = sendFrom(1, *server2);
    ASSERT_TRUE(keepFirst && keepSecond);
    EXPECT_EQ(keepFirst->address, internetAddress(1));
    EXPECT_EQ(keepFirst->port, keepSecond->port);

    const auto randomFirst = sendFrom(2, server1), randomSecond = sendFrom(2, *server2);
    ASSERT_TRUE(randomFirst && randomSecond);
    EXPECT_EQ(randomFirst->address, internetAddress(2));
    EXPECT_NE(randomFirst->port, randomSecond->port);
}

TEST_F(TopologyTest, OnlyAnswersComeInAndFlushingForgetsThem) {
    TestUdpSocket& server1 = *sockets[2];
    const auto seen = sendFrom(1, server1);
    ASSERT_TRUE(seen);
    const std::array<std::uint8_t, 1> byte{9};
    // Another port of the internet machine: not who machine 1 wrote to.
    server2->sendTo(seen->address, seen->port, byte);
    EXPECT_FALSE(arrival(*sockets[0]));
    // The one it wrote to may answer...
    server1.sendTo(seen->address, seen->port, byte);
    EXPECT_TRUE(arrival(*sockets[0]));
    // ...until the router forgets.
    ASSERT_TRUE(machines->flushTranslations(1));
    server1.sendTo(seen->address, seen->port, byte);
    EXPECT_FALSE(arrival(*sockets[0]));
}

TEST_F(TopologyTest, ACutRouterCarriesNothingUntilPutBack) {
    TestUdpSocket& server1 = *sockets[2];
    ASSERT_TRUE(machines->cutOff(1, true));
    EXPECT_FALSE(sendFrom(1, server1));
    ASSERT_TRUE(machines->cutOff(1, false));
    EXPECT_TRUE(sendFrom(1, server1));
}

} // namespace
