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
    ready = shell("netns_create " + prefix + " " + std::to_string(count));
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
