// The real vaskor-sdk-client, started by the launcher as a core starts it, and
// driven from outside with xdotool as a person would.
#include "sdk/client/ClientFrame.h"
#include "sdk/control/ClientProcess.h"
#include "tests/sdk/client/ClientWindowTesting.h"
#include "tests/support/ControlTesting.h"
#include "tests/support/Invitations.h"

#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/evtloop.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

using namespace std::chrono_literals;

TEST(ClientProgram, APersonPastesAnInvitationAndJoinsAndTheWindowEndsWithItsCore) {
    const wxPoint field = clientControlCentre(ClientFrame::ID_JOIN_FIELD);
    const wxPoint join = clientControlCentre(ClientFrame::ID_JOIN);

    TemporaryDirectory directory;
    auto server = std::make_unique<ControlServer>(directory.file("core.sock"));
    server->setUserName("Ana");
    server->setActivity("Hosting a VPN", 2, 8);
    ScopedSetting program(clientPathSetting, CLIENT_PROGRAM);
    ClientLaunch launch = startClientProcess(server->path());
    ASSERT_TRUE(launch.process) << launch.note;

    std::string window;
    ASSERT_TRUE(pumpUntil(*server, {}, [&] {
        window = commandOutput(
            "xdotool search --onlyvisible --name '^Vaskor SDK$' 2>/dev/null | head -1");
        return !window.empty() && server->clientCount() == 1;
    })) << "no client window appeared";

    const auto xdotool = [&](const std::string& arguments) {
        EXPECT_EQ(std::system(("xdotool " + arguments).c_str()), 0) << arguments;
    };
    xdotool("mousemove --window " + window + " " + std::to_string(field.x) + " " +
            std::to_string(field.y) + " click 1");
    pumpUntil(*server, {}, [start = std::chrono::steady_clock::now()] {
        return std::chrono::steady_clock::now() - start > 300ms;
    });
    xdotool("type --delay 5 ' " + testsupport::validInvitation(3) + "'");
    xdotool("mousemove --window " + window + " " + std::to_string(join.x) + " " +
            std::to_string(join.y) + " click 1");
    std::optional<std::string> received;
    ASSERT_TRUE(pumpUntil(*server, {}, [&] { return (received = server->takeJoin()).has_value(); }))
        << "Join gave the core nothing";
    EXPECT_EQ(received, testsupport::validInvitation(3));
    pumpUntil(*server, {}, [start = std::chrono::steady_clock::now()] {
        return std::chrono::steady_clock::now() - start > 300ms;
    });
    EXPECT_EQ(server->takeJoin(), std::nullopt) << "one Join gave two invitations";

    server.reset();
    bool running = true;
    for (int i = 0; i < 500 && running; ++i) {
        running = launch.process->running();
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_FALSE(running) << "the window outlived its core";
}

} // namespace
