// The command line of the real vaskor-sdk-client, with no display, as a
// headless machine or a script runs it.
#include "sdk/client/CommandLine.h"
#include "tests/support/ControlTesting.h"
#include "tests/support/Invitations.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;

struct ProgramResult {
    int status = -1;
    std::string out;
    std::string err;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs the program without a display while server (if any) is served.
ProgramResult runProgram(
    std::vector<std::string> arguments, ControlServer* server,
    const std::function<void()>& atStart = [] {}) {
    TemporaryDirectory output;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.file("out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, output.file("err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> environment;
    for (char** variable = environ; *variable; ++variable) {
        const std::string entry = *variable;
        if (!entry.starts_with("DISPLAY=") && !entry.starts_with("WAYLAND_DISPLAY="))
            environment.push_back(entry);
    }
    std::string program = CLIENT_PROGRAM;
    std::vector<char*> argv{program.data()}, envp;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    for (auto& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    ProgramResult result;
    const int error =
        ::posix_spawn(&pid, CLIENT_PROGRAM, &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(error, 0);
    if (error != 0)
        return result;
    bool started = false;
    int status = 0;
    const auto begin = std::chrono::steady_clock::now();
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() - begin > 20s) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            ADD_FAILURE() << "the program did not end";
            break;
        }
        if (!started && std::chrono::steady_clock::now() - begin > 200ms) {
            atStart();
            started = true;
        }
        if (server)
            server->poll();
        std::this_thread::sleep_for(1ms);
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = readFile(output.file("out"));
    result.err = readFile(output.file("err"));
    return result;
}

TEST(ProgramCommandLine, ReadsAndDeliversInvitationsWithoutADisplay) {
    TemporaryDirectory directory;
    ControlServer server(directory.file("core.sock"));
    auto result = runProgram({"invitation", "--socket", server.path()}, &server,
                             [&] { server.openInvitation("vaskor1.host-secret"); });
    EXPECT_EQ(result.status, exitStatus::done) << result.err;
    EXPECT_EQ(result.out, "vaskor1.host-secret\n");

    const auto friendly = testsupport::validInvitation(4);
    result = runProgram({"join", friendly, "--socket", server.path()}, &server);
    EXPECT_EQ(result.status, exitStatus::done) << result.err;
    EXPECT_EQ(server.takeJoin(), friendly);
    EXPECT_EQ(server.takeJoin(), std::nullopt);

    // The socket from the setting, as a test or the demo gives it.
    ScopedSetting chosen("VASKOR_SDK_CONTROL_SOCKET", server.path());
    const auto again = testsupport::validInvitation(5);
    result = runProgram({"join", again}, &server);
    EXPECT_EQ(result.status, exitStatus::done) << result.err;
    EXPECT_EQ(server.takeJoin(), again);
}

TEST(ProgramCommandLine, TellsAPersonWhatWentWrong) {
    TemporaryDirectory directory;
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string errPart;
    };
    const std::vector<Case> cases = {
        {{"join"}, exitStatus::usage, "usage:"},
        {{"frobnicate"}, exitStatus::usage, "unknown command"},
        {{"join", "vaskor1.x", "--socket", directory.file("none.sock")},
         exitStatus::noCore,
         "no game SDK core listens"},
        {{"--socket", directory.file("none.sock")}, exitStatus::usage, "needs a display"},
    };
    for (const auto& c : cases) {
        const auto result = runProgram(c.arguments, nullptr);
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_NE(result.err.find(c.errPart), std::string::npos) << result.err;
    }
    const auto help = runProgram({"--help"}, nullptr);
    EXPECT_EQ(help.status, exitStatus::done);
    EXPECT_NE(help.out.find("vaskor-sdk-client join INVITATION"), std::string::npos) << help.out;
}

} // namespace
