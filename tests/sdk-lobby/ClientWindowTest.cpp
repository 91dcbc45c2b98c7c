// The client window as a core starts it: a person pastes the host's
// invitation into the member's window and presses Join; the window ends with
// its core.

#include "LobbyTestSupport.h"

#include "sdk/client/ClientFrame.h"
#include "tests/sdk-control/ControlTesting.h"

#include <wx/app.h>

#include <cstdio>

using namespace lobbytest;
using namespace std::chrono_literals;

namespace {

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
// out in this process.
wxPoint centreOf(int id) {
    TemporaryDirectory directory;
    ControlServer server(directory.file("layout.sock"));
    auto* frame = new ClientFrame(std::make_unique<ControlClient>(server.path()));
    const wxRect rect = frame->FindWindow(id)->GetRect();
    frame->Destroy();
    wxTheApp->ProcessPendingEvents();
    return rect.GetPosition() + wxPoint(rect.width / 2, rect.height / 2);
}

std::string clientWindows() {
    return output("xdotool search --onlyvisible --name '^Vaskor SDK$' 2>/dev/null | head -1");
}

TEST(ClientWindow, CoreStartsItAndAPastedInvitationJoinsOnceAndItEndsWithTheCore) {
    const wxPoint field = centreOf(ClientFrame::ID_JOIN_FIELD);
    const wxPoint join = centreOf(ClientFrame::ID_JOIN);
    ASSERT_TRUE(clientWindows().empty()) << "a client window from elsewhere is on this display";

    auto host = LobbyNode::create();
    ASSERT_TRUE(host);
    host->createLobby();
    host->run();
    TemporaryDirectory directory;
    auto member = LobbyNode::create({{"VASKOR_SDK_CLIENT", "1"},
                                     {"VASKOR_SDK_CLIENT_PATH", CLIENT_PROGRAM},
                                     {"VASKOR_SDK_CONTROL_SOCKET", directory.file("member.sock")}});
    ASSERT_TRUE(member);
    std::string window;
    ASSERT_TRUE(pumpUntil(
        {host.get(), member.get()}, [&] { return !(window = clientWindows()).empty(); }, 10s))
        << "the core started no client window";

    const auto xdotool = [&](const std::string& arguments) {
        EXPECT_EQ(std::system(("xdotool " + arguments).c_str()), 0) << arguments;
    };
    xdotool("mousemove --window " + window + " " + std::to_string(field.x) + " " +
            std::to_string(field.y) + " click 1");
    pumpFor({host.get(), member.get()}, 300ms);
    const std::string secret = host->secret();
    xdotool("type --delay 2 '" + secret + "'");
    xdotool("mousemove --window " + window + " " + std::to_string(join.x) + " " +
            std::to_string(join.y) + " click 1");
    ASSERT_TRUE(pumpUntil({host.get(), member.get()}, [&] { return !member->joins.empty(); }))
        << "Join gave the core nothing";
    EXPECT_EQ(member->joins, std::vector<std::string>{secret});
    pumpFor({host.get(), member.get()}, 300ms);
    EXPECT_EQ(member->joins.size(), 1u) << "one Join, one join event";

    member->connect(member->joins.front());
    ASSERT_TRUE(
        pumpUntil({host.get(), member.get()}, [&] { return member->completion.has_value(); }));
    EXPECT_TRUE(member->connected());

    member->destroy();
    EXPECT_TRUE(pumpUntil(
        {host.get()}, [&] { return clientWindows().empty(); }, 5s))
        << "the window outlived its core";
}

} // namespace
