// Removals that reach the removed, and user ids that stay with their core,
// between cores of one process on loopback. The program opens its peers to
// the members as the network program does, and never closes them.

#include "tests/support/LobbyNodes.h"

#include <algorithm>

using namespace lobbytest;
using namespace std::chrono_literals;

namespace {

const std::pair<std::string, std::string> shortTimeout{"VASKOR_SDK_PEER_TIMEOUT_MS", "1500"};
const std::pair<std::string, std::string> quickKeepAlive{"VASKOR_SDK_KEEPALIVE_MS", "300"};

class RemovalTest : public LobbyFixture {
protected:
    void SetUp() override { host(8, {shortTimeout, quickKeepAlive}); }

    // Every core opens every other for the program, as the network program does.
    void openAll() {
        ASSERT_TRUE(pumpUntil(all(), [&] {
            return std::ranges::all_of(all(),
                                       [](LobbyNode* n) { return !n->node().route.empty(); });
        }));
        for (auto* node : all())
            for (auto* other : all())
                if (node != other)
                    node->node().open(other->node());
    }
};

TEST_F(RemovalTest, StalledMemberComingBackIsToldAndServedByNoOneUntilItJoinsAgain) {
    auto& stalled = join({shortTimeout, quickKeepAlive});
    auto& staying = join({shortTimeout, quickKeepAlive});
    openAll();
    const std::uint8_t byte = 1;
    ASSERT_TRUE(pumpUntil(all(), [&] {
        staying.node().network().SendMessage(stalled.node().peerId, 0, &byte, 1);
        return !stalled.node().received.empty();
    }));

    // The stalled core is not pumped past the time-out: the others remove it.
    Nodes others{hostNode.get(), &staying};
    ASSERT_TRUE(pumpUntil(
        others, [&] { return !staying.eventsOf("disconnect").empty(); }, 4000ms));
    EXPECT_EQ(hostNode->memberIds(), (std::vector<UserId>{hostNode->userId, staying.userId}));

    // It comes back: it is told that its lobby is gone.
    ASSERT_TRUE(pumpUntil(
        all(), [&] { return !stalled.eventsOf("delete").empty(); }, 5000ms))
        << "the removed member never heard of its removal: a split lobby";

    // No member serves it any more, although their programs keep its peer
    // and its own program opens theirs again and sends: on the reliable
    // channel, which takes every message and keeps trying to deliver it, so
    // that what fails to arrive was refused by the others.
    const auto heardBefore = staying.node().received.size();
    pumpFor(all(), 500ms);
    for (auto* other : {&staying, hostNode.get()}) {
        auto& network = stalled.node().network();
        const auto& peer = other->node();
        ASSERT_TRUE(network.OpenPeer(peer.peerId, peer.route.c_str()) == Result::Ok ||
                    network.UpdatePeer(peer.peerId, peer.route.c_str()) == Result::Ok);
        network.OpenChannel(peer.peerId, 1, true);
    }
    int sends = 0;
    for (int i = 0; i < 20; ++i) {
        sends +=
            stalled.node().network().SendMessage(staying.node().peerId, 1, &byte, 1) == Result::Ok;
        sends += stalled.node().network().SendMessage(hostNode->node().peerId, 1, &byte, 1) ==
                 Result::Ok;
        pumpFor(all(), 20ms);
    }
    EXPECT_EQ(sends, 40)
        << "the removed core did not send: nothing here shows the others refuse it";
    EXPECT_EQ(staying.node().received.size(), heardBefore) << "a removed member was served";
    EXPECT_TRUE(hostNode->node().received.empty()) << "a removed member was served";
    // Its peer is gone from the others' cores, the program's use included:
    // nobody keeps initiating to it.
    EXPECT_NE(staying.node().network().SendMessage(stalled.node().peerId, 0, &byte, 1), Result::Ok);
    EXPECT_NE(hostNode->node().network().SendMessage(stalled.node().peerId, 0, &byte, 1),
              Result::Ok);

    // It joins again as a new member, seen by everyone.
    stalled.completion.reset();
    stalled.connect(hostNode->secret());
    ASSERT_TRUE(pumpUntil(all(), [&] { return stalled.completion.has_value(); }));
    ASSERT_TRUE(stalled.connected());
    ASSERT_TRUE(pumpUntil(all(), [&] { return staying.memberIds().size() == 3; }));
    EXPECT_EQ(staying.memberIds(), hostNode->memberIds());
    EXPECT_EQ(stalled.memberIds(), hostNode->memberIds());

    // Served again: the programs open their peers to the members they see, as
    // at any join (results not looked at: a peer still open stays as it was),
    // and messages flow between it and every other core, both ways.
    for (auto* node : all())
        for (auto* other : all())
            if (node != other && (node == &stalled || other == &stalled)) {
                auto& network = node->node().network();
                network.OpenPeer(other->node().peerId, other->node().route.c_str());
                network.OpenChannel(other->node().peerId, 0, false);
                network.OpenChannel(other->node().peerId, 1, true);
            }
    const auto heardFrom = [](LobbyNode& listener, LobbyNode& speaker) {
        return std::ranges::count_if(listener.node().received, [&](const auto& message) {
            return message.peer == speaker.node().peerId;
        });
    };
    const auto stayingHeard = heardFrom(staying, stalled);
    const auto hostHeard = heardFrom(*hostNode, stalled);
    const auto stalledHeard = heardFrom(stalled, staying);
    EXPECT_TRUE(pumpUntil(all(), [&] {
        stalled.node().network().SendMessage(staying.node().peerId, 0, &byte, 1);
        stalled.node().network().SendMessage(hostNode->node().peerId, 0, &byte, 1);
        staying.node().network().SendMessage(stalled.node().peerId, 0, &byte, 1);
        return heardFrom(staying, stalled) > stayingHeard &&
               heardFrom(*hostNode, stalled) > hostHeard &&
               heardFrom(stalled, staying) > stalledHeard;
    })) << "the member that joined again is not served";
}

TEST_F(RemovalTest, AnotherCorePresentingAPresentMembersUserIdIsRefused) {
    const std::pair<std::string, std::string> sameUser{"VASKOR_SDK_USER_ID", "4242"};
    auto& owner = join({shortTimeout, quickKeepAlive, sameUser});
    auto thief = LobbyNode::create({shortTimeout, quickKeepAlive, sameUser});
    thief->connect(hostNode->secret());
    Nodes nodes{hostNode.get(), &owner, thief.get()};
    ASSERT_TRUE(pumpUntil(nodes, [&] { return thief->completion.has_value(); }));
    EXPECT_NE(thief->completion->result, Result::Ok);
    pumpFor(nodes, 200ms);
    EXPECT_EQ(hostNode->memberIds(), (std::vector<UserId>{hostNode->userId, 4242}));
    EXPECT_TRUE(hostNode->eventsOf("disconnect").empty()) << "the owner lost its place";
    EXPECT_TRUE(owner.eventsOf("delete").empty());

    // The owner itself may still speak for its id.
    EXPECT_EQ(owner.update({{"name", "still here"}}), Result::Ok);
    ASSERT_TRUE(pumpUntil(nodes, [&] { return hostNode->metadata(4242, "name").has_value(); }));
}

} // namespace
