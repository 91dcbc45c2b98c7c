// Two cores of one lobby on loopback carry messages on both kinds of channel.
// The Windows build runs it under Wine (two Windows cores, one wire protocol).

#include "tests/support/LobbyNodes.h"

using namespace lobbytest;
using sdktest::numberedMessage;
using namespace std::chrono_literals;

namespace {

class LobbyChannelsTest : public LobbyFixture {};

TEST_F(LobbyChannelsTest, MembersExchangeReliableAndUnreliableMessagesBothWays) {
    host();
    auto& member = join();
    Node& hosting = hostNode->node();
    Node& joined = member.node();
    ASSERT_TRUE(pumpUntil(all(), [&] { return !hosting.route.empty() && !joined.route.empty(); }));
    hosting.open(joined);
    joined.open(hosting);

    // Reliable first: queued while the session is made, then delivered in order.
    const std::vector<std::size_t> sizes{1, 700, 1437, 1438, 5000, 0};
    constexpr std::uint32_t count = 60;
    for (std::uint32_t i = 0; i < count; ++i) {
        const auto message = numberedMessage(i, sizes[i % sizes.size()]);
        ASSERT_EQ(hosting.network().SendMessage(joined.peerId, 1, message.data(), message.size()),
                  Result::Ok);
        ASSERT_EQ(joined.network().SendMessage(hosting.peerId, 1, message.data(), message.size()),
                  Result::Ok);
    }
    ASSERT_TRUE(pumpUntil(all(), [&] {
        return hosting.receivedOn(1).size() >= count && joined.receivedOn(1).size() >= count;
    }));
    for (Node* node : {&hosting, &joined}) {
        const auto got = node->receivedOn(1);
        ASSERT_EQ(got.size(), count);
        for (std::uint32_t i = 0; i < count; ++i)
            ASSERT_EQ(got[i].bytes, numberedMessage(i, sizes[i % sizes.size()])) << "message " << i;
        EXPECT_EQ(got[0].peer, node == &hosting ? joined.peerId : hosting.peerId);
    }

    // Unreliable: a datagram may be lost even here, so each pass sends again
    // until one has arrived each way.
    const auto datagram = numberedMessage(7, 1200);
    ASSERT_TRUE(pumpUntil(
        all(), [&] { return !hosting.receivedOn(0).empty() && !joined.receivedOn(0).empty(); },
        5000ms,
        [&] {
            hosting.network().SendMessage(joined.peerId, 0, datagram.data(), datagram.size());
            joined.network().SendMessage(hosting.peerId, 0, datagram.data(), datagram.size());
        }));
    EXPECT_EQ(hosting.receivedOn(0).front().bytes, datagram);
    EXPECT_EQ(joined.receivedOn(0).front().bytes, datagram);
    EXPECT_EQ(hostNode->memberIds(), (std::vector<UserId>{hostNode->userId, member.userId}));
}

} // namespace
