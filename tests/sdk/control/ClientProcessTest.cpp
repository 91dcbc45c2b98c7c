#include "sdk/control/ClientProcess.h"
#include "tests/support/ControlTesting.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>

namespace {

// Settings as a test gives them, instead of the environment.
SettingLookup settings(std::map<std::string, std::string> values) {
    return [values](const char* name) -> std::optional<std::string> {
        const auto found = values.find(name);
        if (found == values.end())
            return std::nullopt;
        return found->second;
    };
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool waitForFile(const std::string& path) {
    for (int i = 0; i < 500; ++i) {
        if (!readFile(path).empty())
            return true;
        ::usleep(10000);
    }
    return false;
}

class ClientLauncher : public testing::Test {
protected:
    void SetUp() override {
        // A stand-in for the client window: notes its arguments and open
        // descriptors, then stays until it is stopped.
        std::ofstream(program) << "#!/bin/sh\n"
                               << "ls /proc/$$/fd > " << directory.file("fds") << "\n"
                               << "grep -E '^Sig(Blk|Ign)' /proc/self/status > "
                               << directory.file("signals") << "\n"
                               << "echo \"$@\" > " << directory.file("arguments") << "\n"
                               << "exec sleep 30\n";
        ::chmod(program.c_str(), 0755);
    }

    TemporaryDirectory directory;
    std::string program = directory.file("client");
};

TEST_F(ClientLauncher, StartsTheProgramForTheSocketAndStopsItAtTheEnd) {
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0); // not close-on-exec, like a careless descriptor of the core
    // A core's thread that blocks and ignores SIGTERM.
    sigset_t terminate, previousMask;
    sigemptyset(&terminate);
    sigaddset(&terminate, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &terminate, &previousMask);
    const auto previousAction = ::signal(SIGTERM, SIG_IGN);
    ClientLaunch launch = startClientProcess(
        "/run/core.sock", settings({{"DISPLAY", ":5"}, {clientPathSetting, program}}));
    ::signal(SIGTERM, previousAction);
    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    ASSERT_TRUE(launch.process) << launch.note;
    const pid_t pid = launch.process->processId();
    ASSERT_TRUE(waitForFile(directory.file("arguments")));
    ASSERT_TRUE(waitForFile(directory.file("fds")));
    EXPECT_EQ(readFile(directory.file("arguments")), "--socket /run/core.sock\n");
    std::istringstream fds(readFile(directory.file("fds")));
    for (std::string fd; fds >> fd;)
        EXPECT_TRUE(fd != std::to_string(pipeEnds[0]) && fd != std::to_string(pipeEnds[1]))
            << "the client inherited descriptor " << fd;
    ASSERT_TRUE(waitForFile(directory.file("signals")));
    std::istringstream signals(readFile(directory.file("signals")));
    for (std::string name, mask; signals >> name >> mask;) {
        const unsigned long long bits = std::stoull(mask, nullptr, 16);
        EXPECT_EQ(bits & (1ull << (SIGTERM - 1)), 0u) << name << " " << mask;
    }
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);

    EXPECT_TRUE(launch.process->running());
    launch.process.reset();
    EXPECT_EQ(::kill(pid, 0), -1) << "the client still runs after its core ended";
    EXPECT_EQ(errno, ESRCH);
}

TEST_F(ClientLauncher, AProgramThatEndsByItselfIsNoticed) {
    ClientLaunch launch = startClientProcess(
        "/run/core.sock", settings({{"DISPLAY", ":5"}, {clientPathSetting, "/bin/true"}}));
    ASSERT_TRUE(launch.process) << launch.note;
    bool running = true;
    for (int i = 0; i < 500 && running; ++i) {
        running = launch.process->running();
        ::usleep(10000);
    }
    EXPECT_FALSE(running);
}

TEST_F(ClientLauncher, StartsOnlyWithADisplayAndWhenAllowed) {
    struct Case {
        std::map<std::string, std::string> values;
        bool started;
        std::string notePart;
    };
    const std::vector<Case> cases = {
        {{{"DISPLAY", ":5"}, {clientPathSetting, program}}, true, "started"},
        {{{"WAYLAND_DISPLAY", "wayland-0"}, {clientPathSetting, program}}, true, "started"},
        {{{"DISPLAY", ":5"}, {clientPathSetting, program}, {clientEnabledSetting, "1"}},
         true,
         "started"},
        {{{clientPathSetting, program}}, false, "no display"},
        {{{"DISPLAY", ""}, {clientPathSetting, program}}, false, "no display"},
        {{{"DISPLAY", ":5"}, {clientPathSetting, program}, {clientEnabledSetting, "0"}},
         false,
         "turned off"},
        {{{"DISPLAY", ":5"}, {clientPathSetting, program}, {clientEnabledSetting, "off"}},
         false,
         "turned off"},
        {{{"DISPLAY", ":5"}, {clientPathSetting, program}, {clientEnabledSetting, "maybe"}},
         false,
         "not 1, yes"},
        {{{"DISPLAY", ":5"}, {clientPathSetting, directory.file("missing")}},
         false,
         "cannot start"},
    };
    for (const auto& c : cases) {
        const ClientLaunch launch = startClientProcess("/run/core.sock", settings(c.values));
        EXPECT_EQ(launch.process != nullptr, c.started) << launch.note;
        EXPECT_NE(launch.note.find(c.notePart), std::string::npos) << launch.note;
    }
}

} // namespace
