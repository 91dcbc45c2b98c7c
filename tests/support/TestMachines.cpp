#include "tests/support/TestMachines.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace testsupport {

namespace {

// The prefix of the machines alive in this process, for the signal handler.
char livePrefix[64] = "";

int shellStatus(const std::string& command) {
    const std::string script = std::string(". ") + VASKOR_NETNS_SCRIPT + "\n" + command;
    const std::string quoted = "'" + [&] {
        std::string out;
        for (char c : script)
            out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return out;
    }() + "'";
    return std::system(("bash -c " + quoted).c_str());
}

void removeOnSignal(int signal) {
    if (livePrefix[0] != '\0')
        shellStatus(std::string("netns_remove ") + livePrefix);
    std::_Exit(128 + signal);
}

} // namespace

TestMachines::TestMachines(int count) : prefix("vt" + std::to_string(getpid())) {
    std::snprintf(livePrefix, sizeof livePrefix, "%s", prefix.c_str());
    std::signal(SIGINT, removeOnSignal);
    std::signal(SIGTERM, removeOnSignal);
    for (int machine = 1; machine <= count; ++machine)
        addresses.push_back(address(machine));
    ready = shell("netns_create " + prefix + " " + std::to_string(count));
}

TestMachines::TestMachines(const std::vector<Router>& routers, const std::vector<int>& behind)
    : prefix("vt" + std::to_string(getpid())) {
    std::snprintf(livePrefix, sizeof livePrefix, "%s", prefix.c_str());
    std::signal(SIGINT, removeOnSignal);
    std::signal(SIGTERM, removeOnSignal);
    std::string script = "netns_internet " + prefix + "\n";
    for (std::size_t r = 0; r < routers.size(); ++r) {
        const char* kind = routers[r].translation == Translation::keep ? "keep" : "random";
        const char* mapping = routers[r].mapping == Mapping::upnp     ? "upnp"
                              : routers[r].mapping == Mapping::natpmp ? "natpmp"
                                                                      : "none";
        script += "netns_router " + prefix + " " + std::to_string(r + 1) + " " + kind + " " +
                  mapping + "\n";
    }
    for (std::size_t i = 0; i < behind.size(); ++i) {
        const int machine = static_cast<int>(i) + 1;
        script += "netns_machine " + prefix + " " + std::to_string(machine) + " " +
                  std::to_string(behind[i]) + "\n";
        addresses.push_back(behind[i] == 0 ? "11.2.0." + std::to_string(100 + machine)
                                           : "192.168." + std::to_string(behind[i]) + "." +
                                                 std::to_string(10 + machine));
    }
    ready = shell(script);
}

std::string TestMachines::addressOf(int machine) const {
    return addresses.at(static_cast<std::size_t>(machine) - 1);
}

bool TestMachines::flushTranslations(int router) const {
    return shell("netns_flush " + prefix + " " + std::to_string(router));
}

bool TestMachines::readdress(int machine, const std::string& newAddress) {
    if (!shell("netns_readdress " + prefix + " " + std::to_string(machine) + " " + newAddress))
        return false;
    addresses.at(static_cast<std::size_t>(machine) - 1) = newAddress;
    return true;
}

bool TestMachines::cutOff(int router, bool cut) const {
    return shell(std::string(cut ? "netns_cut " : "netns_uncut ") + prefix + " " +
                 std::to_string(router));
}

TestMachines::~TestMachines() {
    shellStatus("netns_remove " + prefix);
    livePrefix[0] = '\0';
}

bool TestMachines::impair(int first, int second, int lossPercent, int duplicatePercent) const {
    return shell("netns_impair " + prefix + " " + std::to_string(first) + " " +
                 std::to_string(second) + " " + std::to_string(lossPercent) + " " +
                 std::to_string(duplicatePercent));
}

bool TestMachines::shell(const std::string& command) const {
    if (shellStatus("set -e\n" + command) == 0)
        return true;
    std::fprintf(stderr, "test machines: command failed: %s\n", command.c_str());
    return false;
}

void TestMachines::enter(const std::string& name) {
    const int descriptor = open(("/var/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0 || setns(descriptor, CLONE_NEWNET) != 0)
        throw std::runtime_error("cannot enter network namespace " + name);
    close(descriptor);
}

} // namespace testsupport
