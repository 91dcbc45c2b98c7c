#pragma once

// Test "machines" for C++ tests and benchmarks: the namespaces of netns.sh
// (PREFIX-1 .. PREFIX-N on one bridge, machine i at 10.231.0.i/24 on eth0),
// made and removed by the object, also when the run is interrupted. Traffic
// stays inside them. With routers: the bridge is the "internet" (11.2.0.0/24),
// and machines sit behind home routers that translate (netns_router).

#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace testsupport {

// How a home router translates: keep (one mapping for every destination) or
// random (a new port per destination); which port mapping it offers.
enum class Translation { keep, random };
enum class Mapping { none, upnp, natpmp };

struct Router {
    Translation translation = Translation::keep;
    Mapping mapping = Mapping::none;
};

class TestMachines {
public:
    explicit TestMachines(int count);
    // Router r (1-based) is routers[r - 1]; machine i sits behind router
    // behind[i - 1], or on the internet itself when that is 0.
    TestMachines(const std::vector<Router>& routers, const std::vector<int>& behind);
    // IPv6 only: machine i behind stateful firewall i (netns_firewall6),
    // at ipv6Address(i); nothing new comes in through a firewall.
    static std::unique_ptr<TestMachines> ipv6BehindFirewalls(int count);
    static std::string ipv6Address(int machine) {
        return "2001:db8:" + std::to_string(machine) + "::" + std::to_string(10 + machine);
    }
    ~TestMachines();
    TestMachines(const TestMachines&) = delete;
    TestMachines& operator=(const TestMachines&) = delete;

    static std::string address(int machine) { return "10.231.0." + std::to_string(machine); }
    // A machine's address now (with routers, or moved by readdress).
    std::string addressOf(int machine) const;
    // A router's address on the internet (where its machines appear from).
    static std::string routerAddress(int router) { return "11.2.0." + std::to_string(router); }

    // The router forgets its translations (conntrack flushed).
    bool flushTranslations(int router) const;
    // Moves a machine to another address of its network.
    bool readdress(int machine, const std::string& newAddress);
    // Pulls (or puts back) the router's cable to the internet.
    bool cutOff(int router, bool cut) const;
    std::string name(int machine) const { return prefix + "-" + std::to_string(machine); }
    std::string routerName(int router) const { return prefix + "-r" + std::to_string(router); }
    // What the router's miniupnpd logged.
    std::string routerLog(int router) const {
        return "/tmp/" + routerName(router) + "/miniupnpd.log";
    }

    // A second link between two machines with loss, duplication and reordering
    // of UDP (netns_impair).
    bool impair(int first, int second, int lossPercent, int duplicatePercent) const;
    // The machine answers SSDP as a gateway of its own (netns_rogue_igd).
    bool rogueGateway(int machine) const {
        return shell("netns_rogue_igd " + prefix + " " + std::to_string(machine));
    }
    // A shell command with netns.sh's functions at hand; false when it fails.
    bool shell(const std::string& command) const;

    // Moves the calling thread into a namespace: sockets it makes stay there.
    static void enter(const std::string& name);
    // Runs f on a thread inside machine's namespace and returns its result.
    template <typename F> auto inside(int machine, F f) const {
        decltype(f()) result{};
        std::thread thread([&] {
            enter(name(machine));
            result = f();
        });
        thread.join();
        return result;
    }

    bool ready = false;

private:
    TestMachines();
    std::string prefix;
    std::vector<std::string> addresses; // machine i's at i - 1
};

} // namespace testsupport
