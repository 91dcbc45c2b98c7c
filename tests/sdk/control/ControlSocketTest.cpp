#include "sdk/control/ControlError.h"
#include "sdk/control/ControlSocketPath.h"
#include "sdk/os/LocalSocket.h"
#include "tests/support/ControlTesting.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

using sdk::os::OwnedHandle;

// A connection as a foreign or broken client would make it.
OwnedHandle connectRaw(const std::string& path) {
    std::error_code ignored;
    return sdk::os::connectLocalSocket(path, ignored);
}

int fdOf(const OwnedHandle& socket) {
    return static_cast<int>(socket.get());
}

class ControlSocket : public testing::Test {
protected:
    TemporaryDirectory directory;
    std::string path = directory.file("core.sock");
    ControlServer server{path};

    std::unique_ptr<ControlClient> connectedClient() {
        auto client = std::make_unique<ControlClient>(path);
        EXPECT_TRUE(pumpUntil(server, {client.get()}, [&] { return client->hasState(); }));
        client->takeStateChanged();
        return client;
    }

    // A client's answer to its last request.
    ControlAnswer answerOf(ControlClient& client) {
        std::optional<ControlAnswer> answer;
        EXPECT_TRUE(pumpUntil(server, {&client},
                              [&] { return (answer = client.takeAnswer()).has_value(); }));
        return answer.value_or(ControlAnswer{false, "no answer"});
    }
};

TEST_F(ControlSocket, AClientGetsTheCurrentStateOnConnection) {
    server.setUserName("Ana");
    server.setActivity("Hosting a VPN", 2, 8);
    const auto client = connectedClient();
    EXPECT_EQ(client->state(), (ControlState{"Ana", "Hosting a VPN", 2, 8, "", ""}));
    EXPECT_EQ(server.clientCount(), 1u);
}

TEST_F(ControlSocket, ChangesReachEveryClient) {
    const auto window = connectedClient();
    const auto commandLine = connectedClient();
    const auto another = connectedClient();
    EXPECT_EQ(server.clientCount(), 3u);

    server.setActivity("Hosting a VPN", 1, 8);
    server.openInvitation("vaskor1.secret");
    const ControlState expected{"", "Hosting a VPN", 1, 8, "vaskor1.secret", ""};
    for (ControlClient* client : {window.get(), commandLine.get(), another.get()}) {
        EXPECT_TRUE(pumpUntil(server, {client}, [&] { return client->takeInvitationOpened(); }));
        EXPECT_EQ(client->state(), expected);
        EXPECT_TRUE(client->takeStateChanged());
    }

    // Setting what is already shown sends nothing new.
    server.setActivity("Hosting a VPN", 1, 8);
    server.openInvitation("vaskor1.secret");
    ASSERT_TRUE(pumpUntil(server, {window.get()}, [&] { return window->takeInvitationOpened(); }));
    EXPECT_FALSE(window->takeStateChanged());
}

// A core that sleeps on pollFd() wakes for a new client and for a request,
// and forgets a client that left.
TEST_F(ControlSocket, ThePollDescriptorWakesTheCoreForWork) {
    const auto readable = [&] {
        pollfd waiting{static_cast<int>(server.pollFd()), POLLIN, 0};
        return ::poll(&waiting, 1, 1000) == 1;
    };
    server.poll();
    auto client = std::make_unique<ControlClient>(path);
    EXPECT_TRUE(readable());
    ASSERT_TRUE(pumpUntil(server, {client.get()}, [&] { return client->hasState(); }));
    pollfd idle{static_cast<int>(server.pollFd()), POLLIN, 0};
    EXPECT_EQ(::poll(&idle, 1, 0), 0) << "nothing to do, yet the descriptor is readable";
    client->sendJoin("vaskor1.wake");
    EXPECT_TRUE(readable());
    server.poll();
    EXPECT_EQ(server.takeJoin(), "vaskor1.wake");

    client.reset();
    EXPECT_TRUE(readable());
    EXPECT_TRUE(pumpUntil(server, {}, [&] { return server.clientCount() == 0; }));
}

TEST_F(ControlSocket, AReceivedInvitationIsQueuedExactlyOnce) {
    const auto first = connectedClient();
    const auto second = connectedClient();
    first->sendJoin("vaskor1.first");
    EXPECT_TRUE(answerOf(*first).accepted);
    second->sendJoin("vaskor1.second");
    EXPECT_TRUE(answerOf(*second).accepted);
    EXPECT_EQ(server.takeJoin(), "vaskor1.first");
    EXPECT_EQ(server.takeJoin(), "vaskor1.second");
    EXPECT_EQ(server.takeJoin(), std::nullopt);
    server.poll();
    EXPECT_EQ(server.takeJoin(), std::nullopt);
}

TEST_F(ControlSocket, RefusedRequestsAreAnsweredAndQueueNothing) {
    const auto client = connectedClient();
    OwnedHandle raw = connectRaw(path);
    ASSERT_TRUE(raw.valid());
    struct Case {
        std::string line;
        std::string reasonPart;
    };
    const std::vector<Case> cases = {
        {"join hello\n", "not a Vaskor invitation"},
        {"join\n", "empty"},
        {"join vaskor1.a b\n", "character"},
        {"leave\n", "unknown request"},
        {"join vaskor1." + std::string(200, 'a') + "\n", "too long"},
    };
    for (const auto& refused : cases) {
        // Through the raw socket, as a foreign or broken client would send it.
        ASSERT_EQ(::send(fdOf(raw), refused.line.data(), refused.line.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(refused.line.size()));
    }
    std::string received;
    pumpUntil(server, {}, [&] {
        char buffer[4096];
        const ssize_t got = ::recv(fdOf(raw), buffer, sizeof buffer, MSG_DONTWAIT);
        if (got > 0)
            received.append(buffer, static_cast<std::size_t>(got));
        std::size_t errors = 0;
        for (std::size_t at = received.find("\nerror "); at != std::string::npos;
             at = received.find("\nerror ", at + 1))
            ++errors;
        return errors == cases.size();
    });
    for (const auto& refused : cases)
        EXPECT_NE(received.find(refused.reasonPart), std::string::npos) << refused.line;
    EXPECT_EQ(server.takeJoin(), std::nullopt);

    // The connection stays usable.
    client->sendJoin("vaskor1.ok");
    EXPECT_TRUE(answerOf(*client).accepted);
    EXPECT_EQ(server.takeJoin(), "vaskor1.ok");
}

TEST_F(ControlSocket, WaitingInvitationsAreBounded) {
    const auto client = connectedClient();
    for (std::size_t i = 0; i < ControlServer::maxWaitingJoins; ++i) {
        client->sendJoin("vaskor1.n" + std::to_string(i));
        EXPECT_TRUE(answerOf(*client).accepted);
    }
    client->sendJoin("vaskor1.more");
    const ControlAnswer refused = answerOf(*client);
    EXPECT_FALSE(refused.accepted);
    EXPECT_NE(refused.error.find("too many"), std::string::npos);
    EXPECT_EQ(server.takeJoin(), "vaskor1.n0");
    client->sendJoin("vaskor1.later");
    EXPECT_TRUE(answerOf(*client).accepted);
}

TEST_F(ControlSocket, AnOverlongLineEndsOnlyThatConnection) {
    const auto good = connectedClient();
    auto flooding = connectedClient();
    const std::string flood(5000, 'j');
    OwnedHandle raw = connectRaw(path);
    ASSERT_TRUE(raw.valid());
    ASSERT_EQ(::send(fdOf(raw), flood.data(), flood.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(flood.size()));
    std::string received;
    bool closed = false;
    EXPECT_TRUE(pumpUntil(server, {}, [&] {
        char buffer[4096];
        const ssize_t got = ::recv(fdOf(raw), buffer, sizeof buffer, MSG_DONTWAIT);
        if (got > 0)
            received.append(buffer, static_cast<std::size_t>(got));
        closed = got == 0;
        return closed;
    }));
    EXPECT_NE(received.find("error message too long"), std::string::npos) << received;
    good->sendJoin("vaskor1.still");
    EXPECT_TRUE(answerOf(*good).accepted);
}

TEST_F(ControlSocket, DestroyingTheServerEndsTheClientsAndRemovesTheSocket) {
    auto client = connectedClient();
    auto serverGone = std::make_unique<ControlServer>(directory.file("other.sock"));
    auto otherClient = std::make_unique<ControlClient>(directory.file("other.sock"));
    serverGone->poll();
    serverGone.reset();
    EXPECT_FALSE(std::filesystem::exists(directory.file("other.sock")));
    bool open = true;
    for (int i = 0; i < 100 && open; ++i)
        open = otherClient->waitAndPoll(std::chrono::milliseconds(20));
    EXPECT_FALSE(open);
    EXPECT_FALSE(otherClient->endReason().empty());
    // The first server and its client are untouched.
    EXPECT_TRUE(client->poll());
}

TEST_F(ControlSocket, TheSocketIsOpenToItsOwnerOnly) {
    struct stat info {};
    ASSERT_EQ(::lstat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(info.st_uid, ::geteuid());
}

TEST_F(ControlSocket, ALiveSocketIsNotTakenOverButALeftOverOneIs) {
    EXPECT_THROW(ControlServer second(path), ControlError);
    const auto client = connectedClient(); // the first still serves

    const std::string leftOver = directory.file("left-over.sock");
    {
        OwnedHandle stale(::socket(AF_UNIX, SOCK_STREAM, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", leftOver.c_str());
        ASSERT_EQ(::bind(fdOf(stale), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    ASSERT_TRUE(std::filesystem::exists(leftOver));
    ControlServer replacing(leftOver);
    ControlClient reached(leftOver);
    EXPECT_TRUE(pumpUntil(replacing, {&reached}, [&] { return reached.hasState(); }));

    const std::string plainFile = directory.file("plain");
    { std::ofstream(plainFile) << "data"; }
    EXPECT_THROW(ControlServer onFile(plainFile), ControlError);
    EXPECT_TRUE(std::filesystem::exists(plainFile));
}

TEST(ControlSocketPath, EveryCoreGetsItsOwnSocketInAPrivateDirectory) {
    TemporaryDirectory runtime;
    ScopedSetting runtimeDirectory("XDG_RUNTIME_DIR", runtime.path);
    ::unsetenv(controlSocketSetting);
    const auto a = listenForNewCore();
    const auto b = listenForNewCore();
    EXPECT_NE(a->path(), b->path());
    EXPECT_EQ(
        a->path().rfind(runtime.path + "/vaskor-sdk/core-" + std::to_string(::getpid()) + "-", 0),
        0u)
        << a->path();
    struct stat info {};
    ASSERT_EQ(::stat(controlSocketDirectory().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);

    { const auto gone = listenForNewCore(); }
    std::ofstream(controlSocketDirectory() + "/junk.sock") << "not a socket";
    EXPECT_EQ(findLiveControlSockets(), (std::vector<std::string>{a->path(), b->path()}));

    // A directory others may enter is not used: a private one beside it is.
    ::chmod(controlSocketDirectory().c_str(), 0755);
    const auto beside = listenForNewCore();
    const std::string besidePath = beside->path();
    EXPECT_EQ(besidePath.rfind(controlSocketDirectory() + "-", 0), 0u) << besidePath;
    ASSERT_EQ(::stat(besidePath.substr(0, besidePath.rfind('/')).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    EXPECT_EQ(findLiveControlSockets(), std::vector<std::string>{besidePath})
        << "the command line looks beside the usual directory, and not in one others may enter";
}

// Every mapped copy of the SDK library counts its cores from 1: the numbers
// that the cores of other copies hold, or that files hold, are passed over.
TEST(ControlSocketPath, ANumberAnotherCoreHoldsIsSkipped) {
    TemporaryDirectory runtime;
    ScopedSetting runtimeDirectory("XDG_RUNTIME_DIR", runtime.path);
    ::unsetenv(controlSocketSetting);
    const auto first = listenForNewCore();
    const std::string prefix = first->path().substr(0, first->path().rfind('-') + 1);
    const unsigned number = std::stoul(first->path().substr(prefix.size()));
    const auto numbered = [&](unsigned n) { return prefix + std::to_string(n) + ".sock"; };

    ControlServer otherCopy(numbered(number + 1));
    std::ofstream(numbered(number + 2)) << "a file in the way";
    const auto next = listenForNewCore();
    EXPECT_EQ(next->path(), numbered(number + 3));
    EXPECT_TRUE(std::filesystem::exists(numbered(number + 2))) << "nothing is replaced";
    ControlClient reached(otherCopy.path());
    EXPECT_TRUE(pumpUntil(otherCopy, {&reached}, [&] { return reached.hasState(); }))
        << "the other core keeps its socket";

    std::string failure;
    EXPECT_FALSE(sdk::os::listenLocalSocketIfFree(otherCopy.path(), failure).valid());
    EXPECT_EQ(failure, "") << "a taken path is no failure, only taken";
    EXPECT_FALSE(sdk::os::listenLocalSocketIfFree(numbered(number + 2), failure).valid());
    EXPECT_EQ(failure, "");
}

// Cores started at once on many threads, as runs of one process start theirs.
TEST(ControlSocketPath, CoresStartedAtOnceAllGetSockets) {
    TemporaryDirectory runtime;
    ScopedSetting runtimeDirectory("XDG_RUNTIME_DIR", runtime.path);
    ::unsetenv(controlSocketSetting);
    constexpr int cores = 8;
    std::vector<std::unique_ptr<ControlServer>> servers(cores);
    std::vector<std::thread> starting;
    for (auto& server : servers)
        starting.emplace_back([&server] { server = listenForNewCore(); });
    for (auto& thread : starting)
        thread.join();
    std::set<std::string> paths;
    for (const auto& server : servers)
        paths.insert(server->path());
    EXPECT_EQ(paths.size(), std::size_t{cores});
    EXPECT_EQ(findLiveControlSockets().size(), std::size_t{cores});
}

TEST(ControlSocketPath, TheDirectoryGoesWithItsLastSocketAndComesBackForTheNext) {
    TemporaryDirectory runtime;
    ScopedSetting runtimeDirectory("XDG_RUNTIME_DIR", runtime.path);
    ::unsetenv(controlSocketSetting);
    const std::string directory = controlSocketDirectory();

    auto first = listenForNewCore();
    { const auto second = listenForNewCore(); }
    EXPECT_TRUE(std::filesystem::exists(directory)) << "removed while a core still listens in it";
    first.reset();
    EXPECT_FALSE(std::filesystem::exists(directory)) << "left behind after the last core";

    // The next core makes it again, private.
    const auto late = listenForNewCore();
    EXPECT_TRUE(connectRaw(late->path()).valid());
    struct stat info {};
    ASSERT_EQ(::stat(directory.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);

    // A socket the user named keeps its directory, even when empty.
    TemporaryDirectory own;
    ScopedSetting chosen(controlSocketSetting, own.file("core.sock"));
    { const auto named = listenForNewCore(); }
    EXPECT_TRUE(std::filesystem::exists(own.path));
    EXPECT_FALSE(std::filesystem::exists(own.file("core.sock")));
}

TEST(ControlSocketLimits, OutOfDescriptorsTheListenerRestsUntilOneIsFree) {
    // In a child: it uses up its descriptors and reports by its exit status.
    TemporaryDirectory directory;
    const std::string path = directory.file("core.sock");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit low{64, 64};
        ::setrlimit(RLIMIT_NOFILE, &low);
        // The undefined-behaviour sanitizer checks the first call through an
        // error category with descriptors of its own (and reports a bad type
        // when none is left): the listener's comparison, made once here
        // before the descriptors run out.
        const std::error_code outOfDescriptors(EMFILE, std::generic_category());
        if (outOfDescriptors != std::errc::too_many_files_open)
            ::_exit(4);
        ControlServer server(path);
        std::vector<int> filler;
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
            filler.push_back(fd);
        ::close(filler.back()); // one for the client; none left to accept it
        filler.pop_back();
        const OwnedHandle client = connectRaw(path);
        if (!client.valid())
            ::_exit(10);
        server.poll();
        pollfd wake{static_cast<int>(server.pollFd()), POLLIN, 0};
        if (::poll(&wake, 1, 0) != 0)
            ::_exit(1); // it would wake the core again and again
        if (!server.nextDeadline())
            ::_exit(3);         // a core sleeping on its wait handle would never try again
        ::close(filler.back()); // a descriptor frees
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (server.clientCount() == 0 && std::chrono::steady_clock::now() < limit) {
            ::poll(&wake, 1, 100);
            server.poll();
        }
        ::_exit(server.clientCount() == 1 ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "1: the listener kept the core awake, 2: never accepted, 3: no time to try again, "
           "4: the error's comparison failed, 10: no client";
}

TEST(ControlSocketPath, TheSettingNamesTheSocket) {
    TemporaryDirectory chosenDirectory;
    ScopedSetting chosen(controlSocketSetting, chosenDirectory.file("core.sock"));
    EXPECT_EQ(listenForNewCore()->path(), chosenDirectory.file("core.sock"));
}

// Without a runtime directory of its own, root's sockets go where only root
// may write; a directory of another user named by XDG_RUNTIME_DIR is passed over.
TEST(ControlSocketPath, WithoutARuntimeDirectoryRootUsesRun) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "root's place";
    TemporaryDirectory nobodys;
    ASSERT_EQ(::chown(nobodys.path.c_str(), 65534, 65534), 0);
    ScopedSetting foreign("XDG_RUNTIME_DIR", nobodys.path);
    EXPECT_EQ(controlSocketDirectory(), "/run/vaskor-sdk");
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(controlSocketDirectory(), "/run/vaskor-sdk");
}

// Runs body in a child process as user and group "nobody"; its exit status.
int runAsAnotherUser(const std::function<int()>& body, ControlServer& server) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(90);
        ::_exit(body());
    }
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return -1;
        }
        server.poll();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ControlSocketPath, AnotherUsersPreMadeDirectoryIsNotUsedAndTheSocketIsStillFound) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    // Another user (root here) made nobody's usual directory first.
    const std::string usual = "/tmp/vaskor-sdk-65534";
    const auto removeAll = [&] {
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator("/tmp", ignored))
            if (entry.path().string().rfind(usual, 0) == 0)
                std::filesystem::remove_all(entry.path(), ignored);
    };
    removeAll();
    ASSERT_EQ(::mkdir(usual.c_str(), 0755), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(90);
        ::unsetenv("XDG_RUNTIME_DIR");
        ::unsetenv(controlSocketSetting);
        try {
            const auto server = listenForNewCore();
            const std::string path = server->path();
            if (path.rfind(usual + "-", 0) != 0)
                ::_exit(1);
            // The command line finds it without being told where.
            ::_exit(findLiveControlSockets() == std::vector<std::string>{path} ? 0 : 2);
        } catch (const ControlError&) {
            ::_exit(3);
        }
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    removeAll();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "1: the other user's directory used, 2: not found, 3: no socket, 90: no setuid";
}

TEST_F(ControlSocket, AnotherUserCannotReachTheSocket) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    // The directory is private as well; open it so that only the socket's
    // own mode stands in the way.
    ::chmod(directory.path.c_str(), 0755);
    const int status = runAsAnotherUser(
        [&] {
            std::error_code error;
            OwnedHandle socket = sdk::os::connectLocalSocket(path, error);
            return socket.valid() ? 1 : error == std::errc::permission_denied ? 0 : 2;
        },
        server);
    EXPECT_EQ(status, 0) << "1: connected, 2: failed otherwise";
}

TEST_F(ControlSocket, AnotherUserThatGetsThroughIsRefusedByTheServer) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    // Should the file modes ever let another user through (a careless chmod,
    // a privileged process), the server itself still refuses the connection.
    ::chmod(directory.path.c_str(), 0755);
    ::chmod(path.c_str(), 0666);
    const int status = runAsAnotherUser(
        [&] {
            try {
                ControlClient client(path);
                for (int i = 0; i < 200 && client.waitAndPoll(std::chrono::milliseconds(10)); ++i) {
                }
                if (client.connected() || client.hasState())
                    return 1;
                return client.endReason().find("another user") != std::string::npos ? 0 : 3;
            } catch (const ControlError&) {
                return 2;
            }
        },
        server);
    EXPECT_EQ(status, 0) << "1: served, 2: could not connect, 3: no clear refusal";
    EXPECT_EQ(server.clientCount(), 0u);
}

} // namespace
