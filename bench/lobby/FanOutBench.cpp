// Benchmark, as root: what one member's metadata update costs the host on the
// wire. A lobby of N cores, each in a network namespace of its own on one
// bridge; one member writes its route (about 100 bytes, as the network
// program does). Prints the host's bytes sent per update (all members
// together and per member), measured on the host's interface against an idle
// stretch of the same length, for: updates at a person's pace, a flood
// (merged by the host's rate), and writes that change nothing.
//
//   sdk_fan_out_bench [MEMBERS...]      (default: 3 8)

#include "tests/support/LobbyNodes.h"
#include "tests/support/RunCommand.h"
#include "tests/support/TestMachines.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

using namespace lobbytest;
using namespace std::chrono;
using namespace std::chrono_literals;
using testsupport::TestMachines;

namespace {

long long sentBytes(const TestMachines& machines, int machine) {
    const auto result = testsupport::runCommand("ip netns exec " + machines.name(machine) +
                                                " cat /sys/class/net/eth0/statistics/tx_bytes")
                            .get();
    return std::atoll(result.output.c_str());
}

std::string routeLike(int i) {
    return "vr1 kI7HghfWIZ8TNPzx6QTYbSBYqgM4NaIZdcP0Ysz6SmA 11.2.0." + std::to_string(i % 250) +
           ":40000 192.168.1.11:40000";
}

struct Figure {
    const char* what;
    int writes;
    milliseconds spacing; // between writes; zero: all in one go
    bool distinct;
};

void measure(int count) {
    TestMachines machines(count);
    if (!machines.ready) {
        std::cerr << "fan-out bench: the namespaces could not be made\n";
        return;
    }
    std::vector<std::unique_ptr<LobbyNode>> nodes;
    for (int i = 1; i <= count; ++i)
        nodes.push_back(machines.inside(i, [&] {
            return LobbyNode::create({{"VASKOR_SDK_ADDRESSES", TestMachines::address(i)}});
        }));
    Nodes all;
    for (auto& node : nodes)
        all.push_back(node.get());
    LobbyNode& host = *nodes[0];
    host.createLobby(8);
    host.run();
    const std::string secret = host.secret();
    for (int i = 1; i < count; ++i) {
        nodes[i]->connect(secret);
        if (!pumpUntil(
                all, [&] { return nodes[i]->connected(); }, 10s)) {
            std::cerr << "fan-out bench: member " << i << " did not join ("
                      << (nodes[i]->completion ? int(nodes[i]->completion->result) : -1)
                      << ") with " << secret << "\n host route " << host.node().route
                      << "\n member route " << nodes[i]->node().route << "\n";
            return;
        }
    }
    LobbyNode& writer = *nodes[1];
    pumpFor(all, 1s);

    const Figure figures[] = {
        {"updates 150 ms apart", 20, 150ms, true},
        {"a flood of updates", 300, 0ms, true},
        {"updates that change nothing", 20, 150ms, false},
    };
    int next = 0;
    for (const auto& figure : figures) {
        const auto stretch = figure.spacing * figure.writes + 1s;
        const auto idleStart = sentBytes(machines, 1);
        pumpFor(all, duration_cast<milliseconds>(stretch));
        const auto idle = sentBytes(machines, 1) - idleStart;

        const auto start = sentBytes(machines, 1);
        const auto began = steady_clock::now();
        std::string last = "same";
        for (int i = 0; i < figure.writes; ++i) {
            last = figure.distinct ? routeLike(next++) : "same";
            writer.update({{"$net.route", last.c_str()}});
            if (figure.spacing > 0ms)
                pumpFor(all, figure.spacing);
            else
                for (auto* node : all)
                    node->run();
        }
        pumpUntil(all, [&] {
            for (auto* node : all)
                if (node->metadata(writer.userId, "$net.route") != last)
                    return false;
            return true;
        });
        const auto left = stretch - (steady_clock::now() - began);
        if (left > 0ms)
            pumpFor(all, duration_cast<milliseconds>(left));
        const auto busy = sentBytes(machines, 1) - start;
        const double perWrite = double(busy - idle) / figure.writes;
        std::printf("%d cores, %-28s %4d writes: host sent %8lld bytes (idle %6lld): "
                    "%7.1f bytes per write, %6.1f per member\n",
                    count, figure.what, figure.writes, busy, idle, perWrite,
                    perWrite / (count - 1));
    }
}

} // namespace

int main(int argc, char** argv) {
    if (geteuid() != 0) {
        std::cerr << "fan-out bench: run it as root (network namespaces)\n";
        return 1;
    }
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i)
        counts.push_back(std::atoi(argv[i]));
    if (counts.empty())
        counts = {3, 8};
    for (const int count : counts)
        if (count >= 2 && count <= 8)
            measure(count);
    return 0;
}
