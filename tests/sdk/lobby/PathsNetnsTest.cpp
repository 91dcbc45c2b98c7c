// A host on the "internet" and two members behind home routers that
// translate addresses. Each core keeps its route in its metadata and opens
// every other member by it, as the engine does; the SDK finds the paths:
// direct after hole punching where the routers keep their mappings, through
// the host where they pick a new port per destination. The command line's
// member list says which. A member that moves and a router that forgets its
// mappings cost seconds, and nobody leaves.

#include "tests/support/LobbyNodes.h"
#include "tests/support/RunCommand.h"
#include "tests/support/TestMachines.h"

#include <future>
#include <iostream>
#include <map>
#include <sstream>

using namespace lobbytest;
using testsupport::Router;
using testsupport::runCommand;
using testsupport::TestMachines;
using testsupport::Translation;
using namespace std::chrono;
using namespace std::chrono_literals;

namespace {

// One member row of `vaskor-sdk-client members`: name, path, endpoint, round trip.
struct Row {
    std::string name;
    std::string path;
    std::string endpoint;
    std::string roundTrip;
};

std::vector<Row> rowsOf(const std::string& output) {
    std::vector<Row> rows;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        Row row;
        std::istringstream fields(line);
        std::getline(fields, row.name, '\t');
        std::getline(fields, row.path, '\t');
        std::getline(fields, row.endpoint, '\t');
        std::getline(fields, row.roundTrip, '\t');
        rows.push_back(row);
    }
    return rows;
}

class PathsNetnsTest : public ::testing::Test {
protected:
    // Machine 1 (the host) on the internet, 2 and 3 behind routers 1 and 2.
    void start(Translation translation) {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root to create network namespaces";
        machines = std::make_unique<TestMachines>(
            std::vector<Router>{{translation, testsupport::Mapping::none},
                                {translation, testsupport::Mapping::none}},
            std::vector<int>{0, 1, 2});
        ASSERT_TRUE(machines->ready);
        for (int i = 1; i <= 3; ++i) {
            sockets.push_back("/tmp/vaskor-paths-netns-" + std::to_string(getpid()) + "-" +
                              std::to_string(static_cast<int>(translation)) + "-" +
                              std::to_string(i) + ".sock");
            nodes.push_back(machines->inside(i, [&] {
                // The cores run on this thread, outside the machines: their
                // own addresses are given, not read.
                return LobbyNode::create({{"VASKOR_SDK_ADDRESSES", machines->addressOf(i)},
                                          {"VASKOR_SDK_USER_NAME", nameOf(i)},
                                          {"VASKOR_SDK_CONTROL_SOCKET", sockets.back()},
                                          // Paths without port mapping: the routers offer none.
                                          {"VASKOR_SDK_PORT_MAPPING", "off"},
                                          {"VASKOR_SDK_PEER_TIMEOUT_MS", "10000"}});
            }));
            ASSERT_TRUE(nodes.back());
        }
        LobbyNode& host = *nodes[0];
        host.createLobby();
        host.run();
        ASSERT_TRUE(host.connected());
        for (int i = 2; i <= 3; ++i) {
            const auto asked = steady_clock::now();
            nodes[i - 1]->connect(host.secret());
            ASSERT_TRUE(pumpUntil(
                all(), [&] { return nodes[i - 1]->completion.has_value(); }, 12s));
            ASSERT_TRUE(nodes[i - 1]->connected());
            std::cout << "member " << i << " behind its router joined in "
                      << duration_cast<microseconds>(nodes[i - 1]->completedAt - asked).count() /
                             1000.0
                      << " ms" << std::endl;
        }
    }

    void TearDown() override {
        nodes.clear();
        machines.reset();
    }

    Nodes all() {
        Nodes list;
        for (auto& node : nodes)
            list.push_back(node.get());
        return list;
    }

    // What the engine does: its route in its metadata, every other member
    // opened by the route in theirs (and updated when it changes).
    void follow() {
        for (auto* node : all()) {
            if (node->node().route.empty())
                continue;
            if (published[node] != node->node().route) {
                published[node] = node->node().route;
                node->update({{"$net.peer_id", std::to_string(node->node().peerId).c_str()},
                              {"$net.route", node->node().route.c_str()}});
            }
            for (auto* other : all()) {
                if (other == node)
                    continue;
                const auto route = node->metadata(other->userId, "$net.route");
                if (!route || opened[{node, other}] == *route)
                    continue;
                auto& network = node->node().network();
                const auto peer = other->node().peerId;
                if (opened[{node, other}].empty()) {
                    network.OpenPeer(peer, route->c_str());
                    network.OpenChannel(peer, 0, false);
                } else {
                    network.UpdatePeer(peer, route->c_str());
                }
                opened[{node, other}] = *route;
            }
        }
    }

    bool pump(const std::function<bool()>& done, milliseconds limit) {
        return pumpUntil(all(), done, limit, [&] { follow(); });
    }

    // Sends a numbered message each way between the members; true once
    // each member received one sent after the latest mark().
    bool exchange() {
        ++sent;
        const auto message = sdktest::numberedMessage(sent, 200);
        nodes[1]->node().network().SendMessage(nodes[2]->node().peerId, 0, message.data(),
                                               static_cast<std::uint32_t>(message.size()));
        nodes[2]->node().network().SendMessage(nodes[1]->node().peerId, 0, message.data(),
                                               static_cast<std::uint32_t>(message.size()));
        const auto arrived = [&](LobbyNode& node) {
            for (const auto& received : node.node().received) {
                if (received.bytes.size() < 4)
                    continue;
                std::uint32_t index = 0;
                for (int i = 3; i >= 0; --i)
                    index = (index << 8) | received.bytes[static_cast<std::size_t>(i)];
                if (index > marked && received.bytes == sdktest::numberedMessage(index, 200))
                    return true;
            }
            return false;
        };
        return arrived(*nodes[1]) && arrived(*nodes[2]);
    }
    void mark() { marked = sent; }

    // Each machine's user is named after it: the lobby carries the names.
    static std::string nameOf(int machine) { return "machine " + std::to_string(machine); }

    // vaskor-sdk-client members on a machine, while the cores keep running.
    std::vector<Row> members(int machine) {
        auto command =
            runCommand("ip netns exec " + machines->name(machine) + " " +
                       VASKOR_SDK_CLIENT_PROGRAM + " members --socket " + sockets.at(machine - 1));
        while (command.wait_for(0s) != std::future_status::ready)
            pumpFor(all(), 2ms);
        const auto result = command.get();
        EXPECT_EQ(result.status, 0) << result.output;
        return rowsOf(result.output);
    }

    // The row of the other member as machine sees it, once it says `path`.
    std::optional<Row> waitForPath(int machine, int other, const std::string& path,
                                   milliseconds limit) {
        const std::string name = nameOf(other);
        const auto end = steady_clock::now() + limit;
        while (steady_clock::now() < end) {
            mark();
            pump([&] { return exchange(); }, 1s);
            for (const auto& row : members(machine))
                if (row.name == name && row.path == path && row.roundTrip != "-")
                    return row;
        }
        return std::nullopt;
    }

    // What each machine sees, for a failure's message.
    std::string seen() {
        std::string text;
        for (int machine = 1; machine <= 3; ++machine) {
            text += "machine " + std::to_string(machine) + " route " +
                    nodes[machine - 1]->node().route + "\n";
            for (const auto& row : members(machine))
                text += "  " + row.name + " " + row.path + " " + row.endpoint + " " +
                        row.roundTrip + "\n";
        }
        return text;
    }

    void expectNobodyLeft() {
        for (auto* node : all()) {
            EXPECT_TRUE(node->eventsOf("disconnect").empty());
            EXPECT_TRUE(node->eventsOf("delete").empty());
        }
    }

    std::unique_ptr<TestMachines> machines;
    std::vector<std::string> sockets;
    std::vector<std::unique_ptr<LobbyNode>> nodes;
    std::map<LobbyNode*, std::string> published;
    std::map<std::pair<LobbyNode*, LobbyNode*>, std::string> opened;
    std::uint32_t sent = 0;
    std::uint32_t marked = 0;
};

TEST_F(PathsNetnsTest, MembersBehindRoutersThatKeepMappingsTalkDirectly) {
    start(Translation::keep);
    const auto began = steady_clock::now();
    const auto row = waitForPath(2, 3, "direct", 20s);
    ASSERT_TRUE(row) << "no direct path between the members\n" << seen();
    std::cout << "direct path after "
              << duration_cast<milliseconds>(steady_clock::now() - began).count()
              << " ms: " << row->endpoint << ", round trip " << row->roundTrip << std::endl;
    EXPECT_EQ(row->endpoint.rfind(TestMachines::routerAddress(2) + ":", 0), 0u)
        << "member 3 is reached at its router's mapping";
    const auto back = waitForPath(3, 2, "direct", 10s);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->endpoint.rfind(TestMachines::routerAddress(1) + ":", 0), 0u);

    // A member moves to another address and its router forgets every mapping.
    mark();
    ASSERT_TRUE(pump([&] { return exchange(); }, 5s));
    ASSERT_TRUE(machines->readdress(2, "192.168.1.77"));
    ASSERT_TRUE(machines->flushTranslations(1));
    const auto moved = steady_clock::now();
    mark();
    ASSERT_TRUE(pump([&] { return exchange(); }, 15s)) << "traffic did not come back";
    std::cout << "member moved and its router flushed: traffic back after "
              << duration_cast<milliseconds>(steady_clock::now() - moved).count() << " ms"
              << std::endl;
    // The other router forgets too; a few seconds of traffic, then nobody left.
    ASSERT_TRUE(machines->flushTranslations(2));
    const auto flushed = steady_clock::now();
    mark();
    ASSERT_TRUE(pump([&] { return exchange(); }, 15s));
    std::cout << "second router flushed: traffic back after "
              << duration_cast<milliseconds>(steady_clock::now() - flushed).count() << " ms"
              << std::endl;
    pump([] { return false; }, 3s);
    expectNobodyLeft();
}

TEST_F(PathsNetnsTest, MembersBehindRoutersThatChangePortsAreRelayedByTheHost) {
    start(Translation::random);
    const auto began = steady_clock::now();
    const auto row = waitForPath(2, 3, "relayed", 20s);
    ASSERT_TRUE(row) << "no relayed path between the members\n" << seen();
    std::cout << "relayed path after "
              << duration_cast<milliseconds>(steady_clock::now() - began).count()
              << " ms: " << row->endpoint << ", round trip " << row->roundTrip << std::endl;
    EXPECT_EQ(row->endpoint.rfind(machines->addressOf(1) + ":", 0), 0u) << "the relay is the host";
    ASSERT_TRUE(waitForPath(3, 2, "relayed", 10s));
    // The host's own rows: both members direct.
    const auto hostRows = members(1);
    ASSERT_EQ(hostRows.size(), 3u);
    for (const auto& hostRow : hostRows)
        EXPECT_TRUE(hostRow.path == "self" || hostRow.path == "direct") << hostRow.path;

    // The routers forget their mappings: the relay carries on after a pause.
    ASSERT_TRUE(machines->flushTranslations(1));
    ASSERT_TRUE(machines->flushTranslations(2));
    const auto flushed = steady_clock::now();
    mark();
    ASSERT_TRUE(pump([&] { return exchange(); }, 15s)) << "traffic did not come back\n" << seen();
    std::cout << "both routers flushed: relayed traffic back after "
              << duration_cast<milliseconds>(steady_clock::now() - flushed).count() << " ms"
              << std::endl;

    // A member sleeps (runs nothing) for less than the time-out, then wakes.
    const Nodes awake{nodes[0].get(), nodes[2].get()};
    pumpFor(awake, 6s);
    const auto woke = steady_clock::now();
    mark();
    ASSERT_TRUE(pump([&] { return exchange(); }, 15s)) << "no traffic after the sleep\n" << seen();
    std::cout << "a member slept 6 s: traffic back after "
              << duration_cast<milliseconds>(steady_clock::now() - woke).count() << " ms"
              << std::endl;
    pump([] { return false; }, 3s);
    expectNobodyLeft();
}

} // namespace
