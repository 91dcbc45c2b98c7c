// The real vaskor-sdk-client, started by the launcher as a core starts it, and
// driven from outside with xdotool as a person would.
#include "sdk/client/ClientFrame.h"
#include "sdk/control/ClientProcess.h"
#include "tests/sdk-control/ControlTesting.h"

#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/evtloop.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

using namespace std::chrono_literals;

std::string output(const std::string& command) {
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe))
            text += buffer;
        ::pclose(pipe);
    }
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

// Where a control lies in the window, from a window of the same build laid
// out in this process (the program's own window gives xdotool no controls).
wxPoint centreOf(int id) {
    TemporaryDirectory directory;
    ControlServer server(directory.file("layout.sock"));
    auto* frame = new ClientFrame(std::make_unique<ControlClient>(server.path()));
    const wxRect rect = frame->FindWindow(id)->GetRect();
    frame->Destroy();
    wxTheApp->ProcessPendingEvents();
    return rect.GetPosition() + wxPoint(rect.width / 2, rect.height / 2);
}

TEST(ClientProgram, APersonPastesAnInvitationAndJoinsAndTheWindowEndsWithItsCore) {
    const wxPoint field = centreOf(ClientFrame::ID_JOIN_FIELD);
    const wxPoint join = centreOf(ClientFrame::ID_JOIN);

    TemporaryDirectory directory;
    auto server = std::make_unique<ControlServer>(directory.file("core.sock"));
    server->setUserName("Ana");
    server->setActivity("Hosting a VPN", 2, 8);
    ScopedSetting program(clientPathSetting, CLIENT_PROGRAM);
    ClientLaunch launch = startClientProcess(server->path());
    ASSERT_TRUE(launch.process) << launch.note;

    std::string window;
    ASSERT_TRUE(pumpUntil(*server, {}, [&] {
        window = output("xdotool search --onlyvisible --name '^Vaskor SDK$' 2>/dev/null | head -1");
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
    xdotool("type --delay 5 ' vaskor1.typed-by-a-person'");
    xdotool("mousemove --window " + window + " " + std::to_string(join.x) + " " +
            std::to_string(join.y) + " click 1");
    std::optional<std::string> received;
    ASSERT_TRUE(pumpUntil(*server, {}, [&] { return (received = server->takeJoin()).has_value(); }))
        << "Join gave the core nothing";
    EXPECT_EQ(received, "vaskor1.typed-by-a-person");
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
