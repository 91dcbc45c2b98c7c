#include "platform/linux/FirewallZone.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace {

// firewall-cmd waits for firewalld; a firewalld that hangs must not hold the
// run's worker (its forwarding and its end) for longer than this.
constexpr auto firewallTimeLimit = std::chrono::seconds(5);
constexpr auto firewallPollInterval = std::chrono::milliseconds(10);

// Waits for the child until the time limit, then kills it; reaps it either way.
void awaitOrKill(pid_t child) {
    const auto deadline = std::chrono::steady_clock::now() + firewallTimeLimit;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child || (done < 0 && errno != EINTR))
            return;
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(firewallPollInterval);
    }
    kill(child, SIGKILL);
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

} // namespace

void putInterfaceIntoHomeZone(const std::string& interfaceName) {
    std::string zone = "--zone=home";
    std::string change = "--change-interface=" + interfaceName;
    char* arguments[] = {const_cast<char*>("firewall-cmd"), zone.data(), change.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    if (posix_spawnp(&child, "firewall-cmd", &actions, nullptr, arguments, environ) == 0)
        awaitOrKill(child);
    posix_spawn_file_actions_destroy(&actions);
}
