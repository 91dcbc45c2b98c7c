#include "sdk/client/CommandLine.h"
#include "sdk/control/ControlError.h"
#include "sdk/control/ControlSocketPath.h"
#include "sdk/os/Handle.h"
#include "tests/support/ControlTesting.h"
#include "tests/support/Invitations.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>
#include <cstring>
#include <sstream>

namespace {

using namespace std::chrono_literals;

ClientOptions command(ClientOptions::Mode mode, std::string socket,
                      std::chrono::milliseconds timeout, std::string invitation = "") {
    ClientOptions options;
    options.mode = mode;
    options.socketPath = std::move(socket);
    options.timeout = timeout;
    options.invitation = std::move(invitation);
    return options;
}

struct CommandResult {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the command on its own thread while this one serves the socket, as the
// core's loop would; atStart runs once the command is under way.
CommandResult runWhileServing(
    ControlServer& server, const ClientOptions& options,
    const std::function<void()>& atStart = [] {}) {
    CommandResult result;
    std::atomic<bool> done{false};
    std::ostringstream out, err;
    std::thread commandLine([&] {
        result.status = runControlCommand(options, out, err);
        done = true;
    });
    for (int i = 0; i < 50; ++i) {
        server.poll();
        std::this_thread::sleep_for(1ms);
    }
    atStart();
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    while (!done && std::chrono::steady_clock::now() < deadline) {
        server.poll();
        std::this_thread::sleep_for(1ms);
    }
    commandLine.join();
    result.out = out.str();
    result.err = err.str();
    return result;
}

class CommandLine : public testing::Test {
protected:
    TemporaryDirectory directory;
    std::string path = directory.file("core.sock");
    ControlServer server{path};
};

TEST_F(CommandLine, PrintsTheInvitationOnceTheProgramOpensIt) {
    server.setActivity("Hosting a VPN", 1, 8);
    const auto result =
        runWhileServing(server, command(ClientOptions::Mode::printInvitation, path, 10s),
                        [&] { server.openInvitation("vaskor1.AbC-_09"); });
    EXPECT_EQ(result.status, exitStatus::done) << result.err;
    EXPECT_EQ(result.out, "vaskor1.AbC-_09\n");
}

TEST_F(CommandLine, PrintsWhatTheWindowWouldShow) {
    server.setUserName("Ana");
    server.setActivity("Hosting a VPN", 2, 8);
    auto result = runWhileServing(server, command(ClientOptions::Mode::printStatus, path, 5s));
    EXPECT_EQ(result.status, exitStatus::done) << result.err;
    EXPECT_EQ(result.out,
              "user: Ana\nactivity: Hosting a VPN\nparty: 2 of 8\ninvitation: (none yet)\n");
    server.openInvitation("vaskor1.x");
    result = runWhileServing(server, command(ClientOptions::Mode::printStatus, path, 5s));
    EXPECT_NE(result.out.find("invitation: vaskor1.x\n"), std::string::npos) << result.out;
}

TEST_F(CommandLine, ListsTheMembersAndHowEachIsReached) {
    auto result = runWhileServing(server, command(ClientOptions::Mode::printMembers, path, 5s));
    EXPECT_EQ(result.status, exitStatus::done) << result.err;
    EXPECT_EQ(result.out, "no lobby\n");
    server.setMembers({
        MemberMessage{MemberMessage::Path::self, {}, std::nullopt, "Ana"},
        MemberMessage{MemberMessage::Path::direct, "11.2.0.2:40000", 412, "Åsa"},
        MemberMessage{MemberMessage::Path::relayed, "11.2.0.101:5000", 12'345, "Bruno"},
        MemberMessage{MemberMessage::Path::connecting, {}, std::nullopt, "カルラ"},
    });
    result = runWhileServing(server, command(ClientOptions::Mode::printMembers, path, 5s));
    EXPECT_EQ(result.status, exitStatus::done) << result.err;
    EXPECT_EQ(result.out, "Ana\tself\t-\t-\n"
                          "Åsa\tdirect\t11.2.0.2:40000\t0.412 ms\n"
                          "Bruno\trelayed\t11.2.0.101:5000\t12.345 ms\n"
                          "カルラ\tconnecting\t-\t-\n");
}

TEST_F(CommandLine, SaysSoWhenNoInvitationComesInTime) {
    const auto result =
        runWhileServing(server, command(ClientOptions::Mode::printInvitation, path, 0s));
    EXPECT_EQ(result.status, exitStatus::refused);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("no invitation yet"), std::string::npos) << result.err;
}

TEST_F(CommandLine, DeliversAnInvitationExactlyOnce) {
    const auto result =
        runWhileServing(server, command(ClientOptions::Mode::join, path, 5s,
                                        "  " + testsupport::validInvitation(1) + "\r\n"));
    EXPECT_EQ(result.status, exitStatus::done) << result.err;
    EXPECT_NE(result.err.find("delivered"), std::string::npos) << result.err;
    EXPECT_EQ(server.takeJoin(), testsupport::validInvitation(1));
    EXPECT_EQ(server.takeJoin(), std::nullopt);
}

TEST_F(CommandLine, ATextThatIsNoInvitationIsNotDelivered) {
    const auto result =
        runWhileServing(server, command(ClientOptions::Mode::join, path, 5s, "hello there"));
    EXPECT_EQ(result.status, exitStatus::refused);
    EXPECT_NE(result.err.find("character"), std::string::npos) << result.err;
    EXPECT_EQ(server.takeJoin(), std::nullopt);
}

TEST_F(CommandLine, ACutOrMistypedInvitationIsRefusedWithTheReason) {
    const std::string good = testsupport::validInvitation(7);
    std::string mistyped = good;
    mistyped[20] = mistyped[20] == 'A' ? 'B' : 'A';
    for (const auto& text : {mistyped, good.substr(0, good.size() - 3)}) {
        const auto result =
            runWhileServing(server, command(ClientOptions::Mode::join, path, 5s, text));
        EXPECT_EQ(result.status, exitStatus::refused) << text;
        EXPECT_NE(result.err.find("not a valid invitation"), std::string::npos) << result.err;
    }
    EXPECT_EQ(server.takeJoin(), std::nullopt) << "the program's run got a broken invitation";
}

TEST_F(CommandLine, WhyTheProgramCouldNotJoinIsShown) {
    server.reportJoinResults(true);
    const auto result = runWhileServing(
        server, command(ClientOptions::Mode::join, path, 10s, testsupport::validInvitation(8)),
        [&] {
            while (!server.takeJoin())
                server.poll();
            server.joinResult(false, "the lobby is full; ask the host to make room");
        });
    EXPECT_EQ(result.status, exitStatus::refused);
    EXPECT_NE(result.err.find("could not join: the lobby is full"), std::string::npos)
        << result.err;
}

TEST_F(CommandLine, ARefusalOfTheProgramIsShown) {
    for (std::size_t i = 0; i < ControlServer::maxWaitingJoins; ++i) {
        const auto filling = runWhileServing(
            server, command(ClientOptions::Mode::join, path, 5s,
                            testsupport::validInvitation(static_cast<std::uint8_t>(i))));
        ASSERT_EQ(filling.status, exitStatus::done) << filling.err;
    }
    const auto result = runWhileServing(
        server, command(ClientOptions::Mode::join, path, 5s, testsupport::validInvitation(99)));
    EXPECT_EQ(result.status, exitStatus::refused);
    EXPECT_NE(result.err.find("refused the invitation: too many"), std::string::npos) << result.err;
}

TEST(CommandLineWithoutCore, TheTimeoutCoversConnectingToACoreThatTakesNoConnections) {
    // A listener that never accepts, its queue full.
    TemporaryDirectory directory;
    const std::string path = directory.file("stuck.sock");
    sdk::os::OwnedHandle listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int listening = static_cast<int>(listener.get());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listening, 0), 0);
    std::vector<sdk::os::OwnedHandle> queued;
    for (int i = 0; i < 64; ++i) {
        sdk::os::OwnedHandle socket(
            ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (::connect(static_cast<int>(socket.get()), reinterpret_cast<sockaddr*>(&address),
                      sizeof address) != 0)
            break;
        queued.push_back(std::move(socket));
    }

    std::atomic<bool> done{false};
    std::ostringstream out, err;
    int status = -1;
    std::thread commandLine([&] {
        status = runControlCommand(command(ClientOptions::Mode::printStatus, path, 1s), out, err);
        done = true;
    });
    const auto limit = std::chrono::steady_clock::now() + 20s;
    while (!done && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(10ms);
    if (!done)
        listener.reset(); // lets a hanging command end, so the test can report it
    commandLine.join();
    ASSERT_TRUE(done.load()) << "the command hung past its --timeout while connecting";
    EXPECT_EQ(status, exitStatus::noCore);
    EXPECT_NE(err.str().find("did not take the connection in time"), std::string::npos)
        << err.str();
}

TEST(CommandLineWithoutCore, SaysThatNoCoreListens) {
    std::ostringstream out, err;
    const int status = runControlCommand(
        command(ClientOptions::Mode::join, "/tmp/vaskor-no-such-dir/core.sock", 1s, "vaskor1.x"),
        out, err);
    EXPECT_EQ(status, exitStatus::noCore);
    EXPECT_NE(err.str().find("no game SDK core listens"), std::string::npos) << err.str();
}

TEST(CommandLineWithoutCore, FindsTheOneRunningCoreOfTheUser) {
    TemporaryDirectory runtime;
    ScopedSetting runtimeDirectory("XDG_RUNTIME_DIR", runtime.path);
    ::unsetenv(controlSocketSetting);
    ClientOptions options;
    EXPECT_THROW(resolveSocketPath(options), ControlError);
    const auto firstCore = listenForNewCore();
    const ControlServer& first = *firstCore;
    EXPECT_EQ(resolveSocketPath(options), first.path());
    const auto secondCore = listenForNewCore();
    const ControlServer& second = *secondCore;
    try {
        resolveSocketPath(options);
        ADD_FAILURE() << "two cores, and one was taken";
    } catch (const ControlError& error) {
        EXPECT_NE(std::string(error.what()).find(second.path()), std::string::npos) << error.what();
    }
    options.socketPath = second.path();
    EXPECT_EQ(resolveSocketPath(options), second.path());
    ScopedSetting chosen(controlSocketSetting, first.path());
    options.socketPath.reset();
    EXPECT_EQ(resolveSocketPath(options), first.path());
}

TEST(ClientArguments, AreReadOrRefusedWithAReason) {
    struct Case {
        std::vector<std::string> arguments;
        std::optional<ClientOptions::Mode> mode; // nothing: refused
        std::string socket = "";
        std::chrono::milliseconds timeout{0};
    };
    using Mode = ClientOptions::Mode;
    const std::vector<Case> cases = {
        {{}, Mode::window},
        {{"--socket", "/s"}, Mode::window, "/s"},
        {{"invitation"}, Mode::printInvitation, "", 10s},
        {{"invitation", "--timeout", "0", "--socket", "/s"}, Mode::printInvitation, "/s", 0s},
        {{"join", "vaskor1.x"}, Mode::join, "", 5s},
        {{"--socket", "/s", "join", "vaskor1.x", "--timeout", "2"}, Mode::join, "/s", 2s},
        {{"--help"}, Mode::help},
        {{"status"}, Mode::printStatus, "", 5s},
        {{"status", "now"}, std::nullopt},
        {{"join"}, std::nullopt},
        {{"join", "a", "b"}, std::nullopt},
        {{"invitation", "x"}, std::nullopt},
        {{"leave"}, std::nullopt},
        {{"--socket"}, std::nullopt},
        {{"--socket", ""}, std::nullopt},
        {{"invitation", "--timeout", "-1"}, std::nullopt},
        {{"invitation", "--timeout", "soon"}, std::nullopt},
        {{"--verbose"}, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto parsed = parseClientOptions(c.arguments);
        std::string shown;
        for (const auto& argument : c.arguments)
            shown += argument + " ";
        if (!c.mode) {
            EXPECT_FALSE(std::get<std::string>(parsed).empty()) << shown;
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<ClientOptions>(parsed)) << shown;
        const auto& options = std::get<ClientOptions>(parsed);
        EXPECT_EQ(options.mode, *c.mode) << shown;
        EXPECT_EQ(options.socketPath.value_or(""), c.socket) << shown;
        EXPECT_EQ(options.timeout, c.timeout) << shown;
        if (options.mode == Mode::join) {
            EXPECT_EQ(options.invitation, "vaskor1.x");
        }
    }
}

} // namespace
