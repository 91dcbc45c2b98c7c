// The core's wait handle (our extension): ready when RunCallbacks has work,
// quiet while the core is idle.
#include "tests/support/SdkNodes.h"

#ifdef _WIN32
#include <windows.h>
#undef SendMessage // winuser.h's, not the network manager's
#else
#include <poll.h>
#endif

using namespace sdktest;
using discord::Result;

namespace {

// Long enough that no keep-alive or time-out falls inside a test.
const std::initializer_list<std::pair<std::string, std::string>> quiet{
    {"VASKOR_SDK_KEEPALIVE_MS", "60000"},
    {"VASKOR_SDK_PEER_TIMEOUT_MS", "120000"},
    {"VASKOR_SDK_HANDSHAKE_RETRY_MS", "60000"},
};

bool readyWithin(Node& node, std::chrono::milliseconds limit) {
    discord::WaitHandle handle = discordNoWaitHandle;
    EXPECT_EQ(node.core().GetWaitHandle(&handle), Result::Ok);
#ifdef _WIN32
    // An event: set while there is work.
    return WaitForSingleObject(handle, static_cast<DWORD>(limit.count())) == WAIT_OBJECT_0;
#else
    pollfd watched{handle, POLLIN, 0};
    return ::poll(&watched, 1, static_cast<int>(limit.count())) == 1;
#endif
}

bool readyNow(Node& node) {
    return readyWithin(node, std::chrono::milliseconds(0));
}

// Runs the node's callbacks until its handle has nothing more to report.
bool settle(Node& node) {
    return pumpUntil({&node}, [&] { return !readyNow(node); });
}

TEST(WaitHandle, OfferedAndQuietOnceTheFirstCallbacksRan) {
    auto node = Node::create(quiet);
    ASSERT_TRUE(node);
    discord::WaitHandle handle = discordNoWaitHandle;
    ASSERT_EQ(node->core().GetWaitHandle(&handle), Result::Ok);
    EXPECT_NE(handle, discordNoWaitHandle);
    EXPECT_TRUE(readyNow(*node)) << "the current user's event waits";
    ASSERT_TRUE(settle(*node));
    EXPECT_EQ(node->userUpdates, 1);
    EXPECT_FALSE(readyNow(*node));
    EXPECT_EQ(node->core().GetWaitHandle(nullptr), Result::InvalidArgument);
}

TEST(WaitHandle, ReadyOnADatagramAndQuietAgainOnceItIsTaken) {
    ScopedEnvironment settings(quiet);
    auto pair = connectedPair();
    auto& a = pair.first;
    auto& b = pair.second;
    ASSERT_TRUE(a && b);
    const std::vector<std::uint8_t> ping{7, 7};
    ASSERT_TRUE(pumpUntil({a.get(), b.get()}, [&] {
        b->network().SendMessage(a->peerId, 1, ping.data(), ping.size());
        return !a->receivedOn(1).empty();
    }));
    // Every acknowledgement and handshake settled: both are idle.
    ASSERT_TRUE(pumpUntil({a.get(), b.get()}, [&] { return !readyNow(*a) && !readyNow(*b); }));
    const std::size_t before = a->received.size();

    const std::vector<std::uint8_t> message{1, 2, 3};
    ASSERT_EQ(b->network().SendMessage(a->peerId, 0, message.data(), message.size()), Result::Ok);
    b->network().Flush();
    ASSERT_TRUE(readyWithin(*a, std::chrono::seconds(5))) << "the datagram did not wake it";
    a->run();
    ASSERT_EQ(a->received.size(), before + 1);
    EXPECT_EQ(a->received.back().bytes, message);
    EXPECT_FALSE(readyNow(*a)) << "ready with nothing left to do";
}

TEST(WaitHandle, ReadyWhenATimerIsDue) {
    // A peer that never answers: the handshake is asked again when its
    // retry is due, and only then.
    ScopedEnvironment settings{{"VASKOR_SDK_HANDSHAKE_RETRY_MS", "200"},
                               {"VASKOR_SDK_PEER_TIMEOUT_MS", "120000"}};
    auto silent = Node::create();
    auto node = Node::create();
    ASSERT_TRUE(silent && node);
    ASSERT_TRUE(pumpUntil({silent.get(), node.get()},
                          [&] { return !silent->route.empty() && !node->route.empty(); }));
    const std::string silentRoute = silent->route;
    const auto silentId = silent->peerId;
    silent->destroy();
    ASSERT_EQ(node->network().OpenPeer(silentId, silentRoute.c_str()), Result::Ok);
    ASSERT_TRUE(settle(*node));
    EXPECT_FALSE(readyNow(*node));
    EXPECT_TRUE(readyWithin(*node, std::chrono::seconds(5))) << "the retry's timer never fired";
    // The retry was sent: the timer is set to the next one.
    ASSERT_TRUE(settle(*node));
    EXPECT_FALSE(readyNow(*node));
}

TEST(WaitHandle, ReadyAtOnceForAMessageToItself) {
    auto node = Node::create(quiet);
    ASSERT_TRUE(node);
    ASSERT_TRUE(settle(*node));
    node->open(*node);
    ASSERT_TRUE(settle(*node));
    const std::uint8_t byte = 5;
    ASSERT_EQ(node->network().SendMessage(node->peerId, 0, &byte, 1), Result::Ok);
    EXPECT_TRUE(readyNow(*node));
    node->run();
    ASSERT_EQ(node->received.size(), 1u);
    EXPECT_FALSE(readyNow(*node));
}

} // namespace
