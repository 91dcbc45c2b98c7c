#include "platform/Process.h"

#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>

namespace {

// A capability set of this process from /proc ("CapInh", "CapAmb", ...).
std::uint64_t capabilitySet(const std::string& name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with(name + ":"))
            return std::stoull(line.substr(name.size() + 1), nullptr, 16);
    return ~0ULL;
}

constexpr std::uint64_t netAdmin = 1ULL << CAP_NET_ADMIN;

// Gives this process CAP_NET_ADMIN to hand on: inheritable, then ambient.
bool handOnNetAdmin() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct sets[_LINUX_CAPABILITY_U32S_3]{};
    if (::syscall(SYS_capget, &header, sets) != 0)
        return false;
    sets[0].inheritable |= netAdmin;
    return ::syscall(SYS_capset, &header, sets) == 0 &&
           ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, CAP_NET_ADMIN, 0, 0) == 0;
}

// Exit codes of the child that tries it, so the test process keeps its sets.
enum Outcome {
    kept = 0,
    couldNotHandOn = 10,
    stillAmbient = 11,
    stillInheritable = 12,
    lostOwn = 13
};

int childOutcome() {
    if (!handOnNetAdmin() || (capabilitySet("CapAmb") & netAdmin) == 0)
        return couldNotHandOn;
    const std::uint64_t effective = capabilitySet("CapEff");
    keepCapabilitiesFromChildren();
    if (capabilitySet("CapAmb") != 0)
        return stillAmbient;
    if (capabilitySet("CapInh") != 0)
        return stillInheritable;
    if (capabilitySet("CapEff") != effective)
        return lostOwn;
    return kept;
}

TEST(ProcessCapabilities, ChildrenInheritNoneAndTheProcessKeepsItsOwn) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs CAP_NET_ADMIN to hand on";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        ::_exit(childOutcome());
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), kept)
        << "10: setup failed, 11: ambient set kept, 12: inheritable set kept, 13: own set lost";
}

} // namespace
