#pragma once

// Test "machines": network namespaces joined by a bridge in a namespace of
// its own, machine i at 10.232.0.i/24. Made and removed by the test itself,
// also when the run is interrupted; traffic stays inside them.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace lobbytest {

inline std::vector<std::string>& bridgedNamespaces() {
    static std::vector<std::string> names;
    return names;
}

inline void removeBridgedNamespaces() {
    for (const auto& name : bridgedNamespaces())
        std::system(("ip netns del " + name + " 2>/dev/null").c_str());
    bridgedNamespaces().clear();
}

inline void removeBridgedNamespacesOnSignal(int signal) {
    removeBridgedNamespaces();
    std::_Exit(128 + signal);
}

class BridgedMachines {
public:
    explicit BridgedMachines(int count) {
        const std::string id = std::to_string(getpid());
        const std::string bridge = "vlsw" + id;
        bridgedNamespaces().push_back(bridge);
        std::signal(SIGINT, removeBridgedNamespacesOnSignal);
        std::signal(SIGTERM, removeBridgedNamespacesOnSignal);
        ready = run("ip netns add " + bridge) &&
                run("ip -n " + bridge + " link add br0 type bridge") &&
                run("ip -n " + bridge + " link set br0 up");
        for (int i = 1; i <= count && ready; ++i) {
            const std::string name = "vl" + id + "-" + std::to_string(i);
            const std::string link = "vl" + id + "m" + std::to_string(i);
            bridgedNamespaces().push_back(name);
            names.push_back(name);
            ready = run("ip netns add " + name) && run("ip -n " + name + " link set lo up") &&
                    run("ip link add " + link + " netns " + bridge +
                        " type veth peer name eth0 netns " + name) &&
                    run("ip -n " + bridge + " link set " + link + " master br0 up") &&
                    run("ip -n " + name + " addr add " + address(i) + "/24 dev eth0") &&
                    run("ip -n " + name + " link set eth0 up");
        }
    }
    ~BridgedMachines() { removeBridgedNamespaces(); }
    BridgedMachines(const BridgedMachines&) = delete;
    BridgedMachines& operator=(const BridgedMachines&) = delete;

    static std::string address(int machine) { return "10.232.0." + std::to_string(machine); }
    const std::string& name(int machine) const { return names.at(machine - 1); }

    // Runs f on a thread inside machine's namespace: sockets made there stay there.
    template <typename F> auto inside(int machine, F f) {
        decltype(f()) result{};
        std::thread thread([&] {
            const int descriptor =
                open(("/var/run/netns/" + name(machine)).c_str(), O_RDONLY | O_CLOEXEC);
            if (descriptor < 0 || setns(descriptor, CLONE_NEWNET) != 0) {
                ADD_FAILURE() << "cannot enter namespace " << name(machine);
                return;
            }
            close(descriptor);
            result = f();
        });
        thread.join();
        return result;
    }

    bool ready = false;

private:
    static bool run(const std::string& command) {
        const int status = std::system(command.c_str());
        if (status != 0)
            ADD_FAILURE() << "command failed: " << command;
        return status == 0;
    }

    std::vector<std::string> names;
};

} // namespace lobbytest
