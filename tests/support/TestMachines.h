#pragma once

// Test "machines" for C++ tests and benchmarks: the namespaces of netns.sh
// (PREFIX-1 .. PREFIX-N on one bridge, machine i at 10.231.0.i/24 on eth0),
// made and removed by the object, also when the run is interrupted. Traffic
// stays inside them.

#include <string>
#include <thread>
#include <utility>

namespace testsupport {

class TestMachines {
public:
    explicit TestMachines(int count);
    ~TestMachines();
    TestMachines(const TestMachines&) = delete;
    TestMachines& operator=(const TestMachines&) = delete;

    static std::string address(int machine) { return "10.231.0." + std::to_string(machine); }
    std::string name(int machine) const { return prefix + "-" + std::to_string(machine); }

    // A second link between two machines with loss, duplication and reordering
    // of UDP (netns_impair).
    bool impair(int first, int second, int lossPercent, int duplicatePercent) const;
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
    std::string prefix;
};

} // namespace testsupport
