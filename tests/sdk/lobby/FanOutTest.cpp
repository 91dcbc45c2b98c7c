// What one member's metadata costs the lobby: the host spreads only changes,
// at a bounded rate per member, and a member that cannot take the host's
// messages for a while is brought up to date with the whole lobby, not left
// with a gap in its list. Cores of one process on loopback.

#include "tests/support/LobbyNodes.h"

#include "sdk/lobby/UpdateRate.h"

#include <algorithm>

using namespace lobbytest;
using namespace std::chrono;
using namespace std::chrono_literals;

namespace {

using sdk::lobby::UpdateRate;

std::size_t updatesOf(const LobbyNode& node, UserId user) {
    return std::ranges::count_if(node.events, [&](const LobbyEvent& event) {
        return event.kind == "update" && event.user == user;
    });
}

struct FloodCase {
    const char* name;
    bool byHost;   // the host writes its own metadata, else a member its own
    bool distinct; // every write a new value, else the same one each time
    int writes;
};

void PrintTo(const FloodCase& flood, std::ostream* out) {
    *out << flood.name;
}

constexpr const char* floodNames[] = {"MemberSameValue", "MemberNewValues", "HostSameValue"};

class FanOutTest : public LobbyFixture, public ::testing::WithParamInterface<FloodCase> {};

TEST_P(FanOutTest, WritesAreSpreadOnlyWhenTheyChangeAndAtTheMembersRate) {
    const auto& flood = GetParam();
    host();
    auto& writer = flood.byHost ? *hostNode : join();
    auto& watcher = join();
    Nodes nodes = all();
    pumpFor(nodes, 100ms);
    const std::string last = flood.distinct ? std::to_string(flood.writes - 1) : "same";

    const auto started = steady_clock::now();
    for (int i = 0; i < flood.writes; ++i) {
        const std::string value = flood.distinct ? std::to_string(i) : "same";
        ASSERT_EQ(writer.update({{"$net.route", value.c_str()}}), Result::Ok);
        for (auto* node : nodes)
            node->run();
    }
    ASSERT_TRUE(pumpUntil(nodes, [&] {
        return std::ranges::all_of(nodes, [&](LobbyNode* node) {
            return node->metadata(writer.userId, "$net.route") == last;
        });
    })) << "every core ends with the last value written";
    const auto elapsed = steady_clock::now() - started;
    pumpFor(nodes, 2 * UpdateRate::interval); // anything still held back comes now

    if (!flood.distinct) {
        EXPECT_EQ(updatesOf(watcher, writer.userId), 1u) << "only the first write changed anything";
        EXPECT_EQ(updatesOf(*hostNode, writer.userId), 1u);
        return;
    }
    // Taken after the last value arrived: the bound grows with the time allowed.
    const auto bound = static_cast<std::size_t>(
        UpdateRate::burst + 1 + (elapsed + 2 * UpdateRate::interval) / UpdateRate::interval);
    const auto seen = updatesOf(watcher, writer.userId);
    std::cout << flood.name << ": " << flood.writes << " writes in "
              << duration_cast<milliseconds>(elapsed).count() << " ms, " << seen
              << " spread (bound " << bound << ")" << std::endl;
    EXPECT_GE(seen, 1u);
    EXPECT_LE(seen, bound);
    EXPECT_LE(updatesOf(*hostNode, writer.userId), bound);
}

INSTANTIATE_TEST_SUITE_P(Floods, FanOutTest,
                         ::testing::Values(FloodCase{"member, same value", false, false, 50},
                                           FloodCase{"member, new values", false, true, 300},
                                           FloodCase{"host, same value", true, false, 50}),
                         [](const auto& info) { return std::string(floodNames[info.index]); });

class StalledMemberTest : public LobbyFixture {};

// The host writes more than a member's whole control queue while that member
// runs no callbacks, and a newcomer joins meanwhile. When the member runs
// again it lists the newcomer and holds every member's latest metadata: no
// "member joined" lost for good, no stale values.
TEST_F(StalledMemberTest, MemberThatCouldNotTakeTheHostsMessagesCatchesUpWithTheWholeLobby) {
    host();
    auto& stalled = join();
    auto& writer = join();
    pumpFor(all(), 100ms);
    Nodes others{hostNode.get(), &writer};

    // 12 KiB a write, 450 writes: past the transport's 4 MiB queue.
    const std::string filler(4000, 'x');
    for (int i = 0; i < 450; ++i) {
        const std::string tag = std::to_string(i);
        const std::string a = tag + filler, b = filler + tag, c = tag + filler + tag;
        ASSERT_EQ(hostNode->update({{"a", a.c_str()}, {"b", b.c_str()}, {"c", c.c_str()}}),
                  Result::Ok);
        writer.run();
    }
    ASSERT_EQ(writer.update({{"w", "final"}}), Result::Ok);

    members.push_back(LobbyNode::create());
    auto& newcomer = *members.back();
    newcomer.connect(hostNode->secret());
    Nodes awake{hostNode.get(), &writer, &newcomer};
    ASSERT_TRUE(pumpUntil(awake, [&] { return newcomer.completion.has_value(); }));
    ASSERT_TRUE(newcomer.connected());
    ASSERT_TRUE(pumpUntil(awake, [&] { return writer.memberIds().size() == 4; }));
    ASSERT_EQ(hostNode->memberIds().size(), 4u) << "the stalled member is still in";

    // It runs again, within the time-out.
    ASSERT_TRUE(pumpUntil(
        all(),
        [&] {
            return stalled.memberIds() == hostNode->memberIds() &&
                   stalled.metadata(hostNode->userId, "c") ==
                       hostNode->metadata(hostNode->userId, "c") &&
                   stalled.metadata(writer.userId, "w") == "final";
        },
        8s))
        << "the stalled member lists " << stalled.memberIds().size() << " members";
    EXPECT_FALSE(stalled.eventsOf("connect").empty()) << "it heard of the newcomer";
    EXPECT_TRUE(stalled.eventsOf("delete").empty());

    // And it goes on with the lobby: the newcomer's next change reaches it.
    ASSERT_EQ(newcomer.update({{"hello", "all"}}), Result::Ok);
    EXPECT_TRUE(
        pumpUntil(all(), [&] { return stalled.metadata(newcomer.userId, "hello") == "all"; }));
}

} // namespace
