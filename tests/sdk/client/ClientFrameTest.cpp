#include "sdk/client/ClientFrame.h"
#include "tests/support/ControlTesting.h"
#include "tests/support/Invitations.h"

#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/clipbrd.h>
#include <wx/dcclient.h>
#include <wx/evtloop.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>
#include <wx/weakref.h>

#include <chrono>
#include <functional>
#include <memory>

namespace {

class ClientWindow : public testing::Test {
protected:
    void SetUp() override {
        frame = new ClientFrame(std::make_unique<ControlClient>(path));
        frame->Show();
    }
    void TearDown() override {
        if (frame)
            frame->Destroy();
        wxTheApp->ProcessPendingEvents();
    }

    // Lets the window and the server run until done() holds or 5 s passed.
    bool runUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            if (server)
                server->poll();
            wxTheApp->ProcessPendingEvents();
            if (wxEventLoopBase* loop = wxEventLoopBase::GetActive())
                loop->YieldFor(wxEVT_CATEGORY_ALL);
            wxMilliSleep(2);
        }
        return true;
    }
    void runFor(std::chrono::milliseconds time) {
        const auto until = std::chrono::steady_clock::now() + time;
        runUntil([&] { return std::chrono::steady_clock::now() > until; });
    }

    template <typename Control> Control* control(int id) {
        auto* found = dynamic_cast<Control*>(frame->FindWindow(id));
        EXPECT_NE(found, nullptr) << "no control " << id;
        return found;
    }
    wxString label(int id) { return control<wxStaticText>(id)->GetLabel(); }

    void click(int id) {
        wxButton* button = control<wxButton>(id);
        wxUIActionSimulator pointer;
        pointer.MouseMove(button->GetScreenRect().GetPosition() + wxPoint(10, 8));
        pointer.MouseClick();
    }

    // The member list as one line of words: rows and wrapped lines alike end
    // in a line break, and wrapping may take spaces.
    std::string membersUnwrapped() {
        wxString text = label(ClientFrame::ID_MEMBERS);
        text.Replace("\n", " ");
        while (text.Replace("  ", " ") > 0) {
        }
        return text.utf8_string();
    }

    TemporaryDirectory directory;
    std::string path = directory.file("core.sock");
    std::unique_ptr<ControlServer> server = std::make_unique<ControlServer>(path);
    wxWeakRef<ClientFrame> frame;
};

TEST_F(ClientWindow, ShowsTheUserAndTheActivity) {
    server->setUserName("Ana");
    server->setActivity("Hosting a VPN", 2, 8);
    ASSERT_TRUE(runUntil([&] { return label(ClientFrame::ID_ACTIVITY) == "Hosting a VPN"; }));
    EXPECT_EQ(label(ClientFrame::ID_USER), "Ana");
    EXPECT_EQ(label(ClientFrame::ID_PARTY), "2 of 8");
    EXPECT_FALSE(control<wxTextCtrl>(ClientFrame::ID_INVITATION)->IsShown());
    EXPECT_FALSE(control<wxButton>(ClientFrame::ID_COPY)->IsShown());

    server->setActivity("Connected to a VPN", 0, 0);
    ASSERT_TRUE(runUntil([&] { return label(ClientFrame::ID_ACTIVITY) == "Connected to a VPN"; }));
    EXPECT_EQ(label(ClientFrame::ID_PARTY), "");
}

TEST_F(ClientWindow, ShowsTheMembersAndKeepsTheirRoundTripsCurrent) {
    EXPECT_FALSE(control<wxStaticText>(ClientFrame::ID_MEMBERS)->IsShown()) << "no lobby yet";
    server->setMembers({
        MemberMessage{MemberMessage::Path::self, {}, std::nullopt, "Ana"},
        MemberMessage{MemberMessage::Path::relayed, "11.2.0.101:5000", 1'500, "Bruno"},
    });
    ASSERT_TRUE(runUntil([&] { return !label(ClientFrame::ID_MEMBERS).empty(); }));
    EXPECT_TRUE(control<wxStaticText>(ClientFrame::ID_MEMBERS)->IsShown());
    EXPECT_EQ(membersUnwrapped(), "Ana self - - Bruno relayed 11.2.0.101:5000 1.500 ms");
    server->setMembers({
        MemberMessage{MemberMessage::Path::self, {}, std::nullopt, "Ana"},
        MemberMessage{MemberMessage::Path::direct, "11.2.0.3:6000", 700, "Bruno"},
    });
    ASSERT_TRUE(runUntil([&] {
        return membersUnwrapped() == "Ana self - - Bruno direct 11.2.0.3:6000 0.700 ms";
    })) << label(ClientFrame::ID_MEMBERS);
}

// Rows wider than the window wrap, and every line of every row stays inside it.
TEST_F(ClientWindow, ShowsEveryRowOfAFullLobbyInsideTheWindow) {
    std::vector<MemberMessage> members{{MemberMessage::Path::self, {}, std::nullopt, "Ana"}};
    for (int i = 1; i < 8; ++i)
        members.push_back(MemberMessage{MemberMessage::Path::relayed,
                                        "[2001:db8:1234:5678:9abc:def0:1234:56" +
                                            std::to_string(10 + i) + "]:65000",
                                        123'456, "Member number " + std::to_string(i)});
    server->setMembers(members);
    ASSERT_TRUE(runUntil([&] { return !label(ClientFrame::ID_MEMBERS).empty(); }));
    auto* list = control<wxStaticText>(ClientFrame::ID_MEMBERS);
    EXPECT_NE(membersUnwrapped().find("Member number 7 relayed"), std::string::npos);
    EXPECT_TRUE(wxRect(frame->GetClientSize()).Contains(list->GetRect()));
    wxClientDC measure(list);
    measure.SetFont(list->GetFont());
    const wxArrayString lines = wxSplit(list->GetLabel(), '\n', '\0');
    EXPECT_GE(lines.size(), members.size());
    int height = 0;
    for (const wxString& line : lines) {
        const wxSize extent = measure.GetTextExtent(line);
        EXPECT_LE(extent.GetWidth(), list->GetSize().GetWidth()) << line;
        height += extent.GetHeight();
    }
    EXPECT_GE(list->GetSize().GetHeight(), height) << "the last rows would be cut off";
}

TEST_F(ClientWindow, ShowsTheInvitationToCopyOnceTheProgramOpensIt) {
    wxTextCtrl* invitation = control<wxTextCtrl>(ClientFrame::ID_INVITATION);
    const int heightBefore = frame->GetClientSize().GetHeight();
    server->openInvitation("vaskor1.AbC-_09");
    ASSERT_TRUE(runUntil([&] { return invitation->IsShown(); }));
    EXPECT_EQ(invitation->GetValue(), "vaskor1.AbC-_09");
    wxButton* copy = control<wxButton>(ClientFrame::ID_COPY);
    EXPECT_TRUE(copy->IsShown());
    EXPECT_GT(frame->GetClientSize().GetHeight(), heightBefore);
    // Everything lies inside the window.
    for (wxWindow* child :
         {static_cast<wxWindow*>(invitation), static_cast<wxWindow*>(copy),
          frame->FindWindow(ClientFrame::ID_JOIN), frame->FindWindow(ClientFrame::ID_STATUS)})
        EXPECT_TRUE(wxRect(frame->GetClientSize()).Contains(child->GetRect())) << child->GetName();

    if (wxTheClipboard->Open()) {
        wxTheClipboard->Clear();
        wxTheClipboard->Close();
    }
    click(ClientFrame::ID_COPY);
    ASSERT_TRUE(runUntil([&] { return label(ClientFrame::ID_STATUS).StartsWith("Copied"); }));
    wxTextDataObject copied;
    ASSERT_TRUE(wxTheClipboard->Open());
    EXPECT_TRUE(wxTheClipboard->GetData(copied));
    wxTheClipboard->Close();
    EXPECT_EQ(copied.GetText(), "vaskor1.AbC-_09");
}

// Invite pressed while the core still prepares the invitation (its port
// mapping attempt): the window says so, then shows the invitation in its place.
TEST_F(ClientWindow, SaysTheInvitationIsBeingPreparedUntilItComes) {
    wxTextCtrl* invitation = control<wxTextCtrl>(ClientFrame::ID_INVITATION);
    server->prepareInvitation();
    ASSERT_TRUE(runUntil([&] { return label(ClientFrame::ID_STATUS).StartsWith("Preparing"); }));
    EXPECT_FALSE(invitation->IsShown());
    server->openInvitation("vaskor1.AbC-_09");
    ASSERT_TRUE(runUntil([&] { return invitation->IsShown(); }));
    EXPECT_EQ(invitation->GetValue(), "vaskor1.AbC-_09");
    EXPECT_EQ(label(ClientFrame::ID_STATUS), "") << "the invitation is there: nothing to wait for";
}

TEST_F(ClientWindow, APastedInvitationWithJoinGivesOneJoin) {
    ASSERT_TRUE(wxTheClipboard->Open());
    wxTheClipboard->SetData(new wxTextDataObject("  " + testsupport::validInvitation(2) + "\n"));
    wxTheClipboard->Close();
    wxTextCtrl* field = control<wxTextCtrl>(ClientFrame::ID_JOIN_FIELD);
    field->SetFocus();
    field->Paste();
    ASSERT_TRUE(runUntil([&] { return !field->GetValue().empty(); }));

    click(ClientFrame::ID_JOIN);
    std::optional<std::string> join;
    ASSERT_TRUE(runUntil([&] { return (join = server->takeJoin()).has_value(); }))
        << "status: " << label(ClientFrame::ID_STATUS) << ", field: " << field->GetValue();
    EXPECT_EQ(join, testsupport::validInvitation(2));
    ASSERT_TRUE(runUntil([&] { return label(ClientFrame::ID_STATUS).Contains("joining"); }));
    EXPECT_EQ(field->GetValue(), "");
    runFor(std::chrono::milliseconds(200));
    EXPECT_EQ(server->takeJoin(), std::nullopt);
}

TEST_F(ClientWindow, TextThatIsNoInvitationIsNotGiven) {
    control<wxTextCtrl>(ClientFrame::ID_JOIN_FIELD)->ChangeValue("see you at eight");
    click(ClientFrame::ID_JOIN);
    ASSERT_TRUE(runUntil([&] { return !label(ClientFrame::ID_STATUS).empty(); }));
    EXPECT_TRUE(label(ClientFrame::ID_STATUS).Contains("character"))
        << label(ClientFrame::ID_STATUS);
    // The long message wraps, and the window grows to show all of it.
    wxStaticText* status = control<wxStaticText>(ClientFrame::ID_STATUS);
    EXPECT_GE(status->GetSize().GetHeight(), 2 * status->GetCharHeight());
    EXPECT_TRUE(wxRect(frame->GetClientSize()).Contains(status->GetRect()));
    runFor(std::chrono::milliseconds(200));
    EXPECT_EQ(server->takeJoin(), std::nullopt);
}

TEST_F(ClientWindow, ClosesWhenTheCoreIsGone) {
    runFor(std::chrono::milliseconds(100));
    server.reset();
    EXPECT_TRUE(runUntil([&] { return !frame; })) << "the window outlived its core";
}

} // namespace
