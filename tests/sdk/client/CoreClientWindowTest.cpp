// The client window as a core starts it: a person pastes the host's
// invitation into the member's window and presses Join; the window ends with
// its core.

#include "tests/support/LobbyNodes.h"

#include "sdk/client/ClientFrame.h"
#include "tests/sdk/client/ClientWindowTesting.h"
#include "tests/support/ControlTesting.h"

#include <wx/app.h>

#include <cstdio>

using namespace lobbytest;
using namespace std::chrono_literals;

namespace {

std::string clientWindows() {
    return commandOutput(
        "xdotool search --onlyvisible --name '^Vaskor SDK$' 2>/dev/null | head -1");
}

TEST(ClientWindow, CoreStartsItAndAPastedInvitationJoinsOnceAndItEndsWithTheCore) {
    const wxPoint field = clientControlCentre(ClientFrame::ID_JOIN_FIELD);
    const wxPoint join = clientControlCentre(ClientFrame::ID_JOIN);
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
