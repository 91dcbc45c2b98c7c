#include "app/CurrentVpn.h"
#include "app/HostJoinSelectPanel.h"
#include "app/Identifiers.h"
#include "app/MainFrame.h"
#include "app/NetworkPanel.h"
#include "tests/app/WindowTesting.h"
#include "tests/support/NetworkNamespace.h"

#include <gtest/gtest.h>

#include <wx/button.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/weakref.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct ShownBox {
    std::string text;
    std::string caption;
    long style;
};

constexpr long errorStyle = 516;        // wxOK | wxICON_ERROR
constexpr long informationStyle = 2052; // wxOK | wxICON_INFORMATION
const char* const serviceMissing =
    "Cannot instantiate discord service. Make sure discord is running.";

// A fresh frame per test, whose message boxes are recorded instead of shown.
class RunStart : public testing::Test {
protected:
    void SetUp() override {
        setenv("VASKOR_SDK_CLIENT", "0", 1); // no client window in these tests
        unsetenv("VASKOR_SDK_UNAVAILABLE");
        frame = new MainFrame();
        frame->showMessage = [this](const wxString& text, const wxString& caption, long style) {
            boxes.push_back({text.ToStdString(), caption.ToStdString(), style});
        };
        frame->Show();
        weakFrame = frame;
    }

    void TearDown() override {
        currentVpn.reset();
        if (weakFrame && !wxTheApp->IsScheduledForDestruction(frame))
            frame->Destroy();
        processEventsUntil([this] { return !weakFrame; });
    }

    void click(int id) {
        auto* button = dynamic_cast<wxButton*>(frame->FindWindow(id));
        ASSERT_NE(button, nullptr) << "no button " << id;
        wxCommandEvent event(wxEVT_BUTTON, id);
        event.SetEventObject(button);
        button->ProcessWindowEvent(event);
    }

    void host(const std::string& typed) {
        frame->hostJoinPanel->addressField->SetValue(typed);
        click(ID_HOST);
    }

    bool closed() const { return !weakFrame || wxTheApp->IsScheduledForDestruction(frame); }

    // Waits for the status timer's next tick to have shown a box or refreshed the lines.
    bool waitForTick() {
        return processEventsUntil(
            [this] {
                return !boxes.empty() || closed() ||
                       !frame->networkPanel->sentText->GetLabel().empty();
            },
            std::chrono::seconds(3));
    }

    MainFrame* frame = nullptr;
    wxWeakRef<MainFrame> weakFrame;
    std::vector<ShownBox> boxes;
};

TEST_F(RunStart, HostAddressChecks) {
    const ScopedNetworkNamespace network; // host runs' adapters stay in a namespace of their own
    struct Case {
        const char* typed;
        const char* box; // nullptr: the run starts
        bool closes;
    } cases[] = {
        {"10.1.2.1/24", nullptr, false},
        {"192.168.42.1/24 and more words", nullptr, false},
        {"192.168.42.2/24", "IP address must end in .1", false},
        {"192.168.42.1/16", "You must use a /24 subnet", false},
        {"192.168.42.7/16", "You must use a /24 subnet", false},
        {"192.168.42.1", "You must use a /24 subnet", false},
        {"", "You must use a /24 subnet", false},
        {"300.1.1.1/24", "Cannot start VPN: Invalid IP Address", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        TearDown();
        boxes.clear();
        SetUp();
        host(c.typed);
        if (!c.box) {
            EXPECT_TRUE(boxes.empty());
            ASSERT_NE(currentVpn, nullptr);
            EXPECT_TRUE(currentVpn->isHostRun());
            ASSERT_NE(frame->networkPanel, nullptr);
            EXPECT_EQ(frame->hostJoinPanel, nullptr);
            EXPECT_EQ(currentVpn->configuredHostAddress(), Ipv4Cidr::parse(c.typed));
            continue;
        }
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, c.box);
        EXPECT_EQ(boxes[0].caption, "Cannot start VPN");
        EXPECT_EQ(boxes[0].style, errorStyle);
        EXPECT_EQ(currentVpn, nullptr);
        EXPECT_EQ(frame->networkPanel, nullptr);
        EXPECT_EQ(closed(), c.closes);
        if (!c.closes) {
            EXPECT_NE(frame->hostJoinPanel, nullptr) << "the panel must stay for another try";
        }
    }
}

TEST_F(RunStart, MemberRunShowsWaitingThenCountersWithoutInvite) {
    click(ID_JOIN);
    ASSERT_NE(currentVpn, nullptr);
    EXPECT_FALSE(currentVpn->isHostRun());
    NetworkPanel* panel = frame->networkPanel;
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->addressText->GetLabel(), "Waiting for connection");
    EXPECT_EQ(panel->sentText->GetLabel(), "");
    EXPECT_EQ(panel->receivedText->GetLabel(), "");
    EXPECT_EQ(frame->FindWindow(ID_INVITE), nullptr);
    EXPECT_EQ(frame->GetClientSize(), panel->GetSize());
    EXPECT_EQ(panel->GetSize().GetHeight(), panel->receivedText->GetPosition().y +
                                                panel->receivedText->GetSize().GetHeight() + 8);

    ASSERT_TRUE(waitForTick());
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(panel->sentText->GetLabel(), "Sent Bytes: 0");
    EXPECT_EQ(panel->receivedText->GetLabel(), "Received Bytes: 0");
    EXPECT_EQ(panel->addressText->GetLabel(), "Waiting for connection");
}

TEST_F(RunStart, HostRunHasInviteThatReachesTheRun) {
    const ScopedNetworkNamespace network; // the host run's adapter stays in a namespace of its own
    host("192.168.42.1/24");
    ASSERT_NE(currentVpn, nullptr);
    auto* invite = dynamic_cast<wxButton*>(frame->FindWindow(ID_INVITE));
    ASSERT_NE(invite, nullptr);
    EXPECT_EQ(invite->GetLabel(), "Invite");
    EXPECT_EQ(invite->GetParent(), frame->networkPanel);
    EXPECT_EQ(invite->GetSize().GetWidth(), 224);
    NetworkPanel* panel = frame->networkPanel;
    EXPECT_EQ(invite->GetPosition().y, panel->receivedText->GetPosition().y +
                                           panel->receivedText->GetSize().GetHeight() + 16);
    EXPECT_EQ(panel->GetSize().GetHeight(),
              invite->GetPosition().y + invite->GetSize().GetHeight() + 8);
    std::printf("status panel: lines %d high, Invite %d high, host panel 240x%d\n",
                panel->addressText->GetSize().GetHeight(), invite->GetSize().GetHeight(),
                panel->GetSize().GetHeight());

    click(ID_INVITE);
    click(ID_INVITE);
    EXPECT_TRUE(currentVpn->takeInviteRequest());
    EXPECT_FALSE(currentVpn->takeInviteRequest()) << "two presses are one pending invitation";
}

TEST_F(RunStart, MissingServiceShowsTheErrorAndCloses) {
    setenv("VASKOR_SDK_UNAVAILABLE", "1", 1);
    click(ID_JOIN);
    ASSERT_NE(currentVpn, nullptr);
    ASSERT_TRUE(waitForTick());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, serviceMissing);
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].style, errorStyle);
    EXPECT_TRUE(closed());
}

TEST_F(RunStart, ErrorWinsOverAMessageInTheSameTick) {
    click(ID_JOIN);
    ASSERT_NE(currentVpn, nullptr);
    currentVpn->postMessage("Cannot join, already connected");
    currentVpn->fail("Lobby disconnected.");
    ASSERT_TRUE(waitForTick());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Lobby disconnected.");
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_TRUE(closed());
}

TEST_F(RunStart, MessageThenRefreshWithTheAddress) {
    click(ID_JOIN);
    ASSERT_NE(currentVpn, nullptr);
    currentVpn->postMessage("Cannot join, already connected & more");
    currentVpn->setOwnAddress(Ipv4Cidr::parse("192.168.42.3/24"));
    currentVpn->addSent(1500);
    currentVpn->addReceived(84);
    ASSERT_TRUE(waitForTick());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Cannot join, already connected & more");
    EXPECT_EQ(boxes[0].caption, "Message");
    EXPECT_EQ(boxes[0].style, informationStyle);
    EXPECT_FALSE(closed());
    NetworkPanel* panel = frame->networkPanel;
    EXPECT_EQ(panel->addressText->GetLabel(), "IP: 192.168.42.3/24");
    EXPECT_EQ(panel->sentText->GetLabel(), "Sent Bytes: 1500");
    EXPECT_EQ(panel->receivedText->GetLabel(), "Received Bytes: 84");
}

} // namespace
