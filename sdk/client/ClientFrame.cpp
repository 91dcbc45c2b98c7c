#include "sdk/client/ClientFrame.h"

#include "sdk/client/InvitationCheck.h"
#include "sdk/client/MemberRows.h"

#include <wx/button.h>
#include <wx/clipbrd.h>
#include <wx/dcclient.h>
#include <wx/panel.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/tokenzr.h>

namespace {

const wxColour panelGrey(68, 68, 68);
const wxColour white(255, 255, 255);
const wxColour dimText(170, 170, 170);

constexpr int width = 300;
constexpr int margin = 8;
constexpr int buttonWidth = 72;
constexpr int fieldWidth = width - 3 * margin - buttonWidth;
const char* const preparingText = "Preparing the invitation...";

wxString fromUtf8(const std::string& text) {
    return wxString::FromUTF8(text.data(), text.size());
}

wxStaticText* addLabel(wxWindow* parent, int id, const wxColour& colour) {
    auto* label = new wxStaticText(parent, id, "", wxPoint(margin, 0),
                                   wxSize(width - 2 * margin, -1), wxST_NO_AUTORESIZE);
    label->SetForegroundColour(colour);
    return label;
}

// Puts window at y and returns the y below it plus gap.
int place(wxWindow* window, int x, int y, int gap) {
    window->Move(x, y);
    return y + window->GetSize().GetHeight() + gap;
}

// A message of the core or of the checks, as a sentence for the status line.
wxString sentence(const std::string& text) {
    wxString shown = fromUtf8(text);
    if (!shown.empty())
        shown[0] = wxToupper(shown[0]);
    if (!shown.EndsWith("."))
        shown += ".";
    return shown;
}

} // namespace

ClientFrame::ClientFrame(std::unique_ptr<ControlClient> controlClient)
    : wxFrame(nullptr, wxID_ANY, title, wxDefaultPosition, wxDefaultSize,
              wxDEFAULT_FRAME_STYLE & ~(wxRESIZE_BORDER | wxMAXIMIZE_BOX)),
      client(std::move(controlClient)), pollTimer(this) {
    panel = new wxPanel(this, wxID_ANY);
    panel->SetBackgroundColour(panelGrey);
    panel->SetForegroundColour(white);

    userLabel = addLabel(panel, ID_USER, white);
    wxFont bold = userLabel->GetFont();
    bold.SetWeight(wxFONTWEIGHT_BOLD);
    bold.SetPointSize(bold.GetPointSize() + 2);
    userLabel->SetFont(bold);
    userLabel->SetSize(width - 2 * margin, userLabel->GetBestSize().GetHeight());
    activityLabel = addLabel(panel, ID_ACTIVITY, white);
    partyLabel = addLabel(panel, ID_PARTY, dimText);

    invitationLabel = addLabel(panel, wxID_ANY, white);
    invitationLabel->SetLabel("Invitation for your friends:");
    invitationField = new wxTextCtrl(panel, ID_INVITATION, "", wxDefaultPosition,
                                     wxSize(fieldWidth, -1), wxTE_READONLY);
    copyButton = new wxButton(panel, ID_COPY, "Copy", wxDefaultPosition, wxSize(buttonWidth, -1));

    joinLabel = addLabel(panel, wxID_ANY, white);
    joinLabel->SetLabel("Paste a friend's invitation:");
    joinField = new wxTextCtrl(panel, ID_JOIN_FIELD, "", wxDefaultPosition, wxSize(fieldWidth, -1),
                               wxTE_PROCESS_ENTER);
    joinButton = new wxButton(panel, ID_JOIN, "Join", wxDefaultPosition, wxSize(buttonWidth, -1));
    statusLabel = addLabel(panel, ID_STATUS, dimText);
    membersLabel = addLabel(panel, ID_MEMBERS, dimText);

    Bind(wxEVT_TIMER, &ClientFrame::onPoll, this);
    copyButton->Bind(wxEVT_BUTTON, &ClientFrame::onCopy, this);
    joinButton->Bind(wxEVT_BUTTON, &ClientFrame::onJoin, this);
    joinField->Bind(wxEVT_TEXT_ENTER, &ClientFrame::onJoin, this);

    showState(client->state());
    pollTimer.Start(pollMilliseconds);
}

void ClientFrame::layOut() {
    int y = place(userLabel, margin, margin, 4);
    y = place(activityLabel, margin, y, 2);
    y = place(partyLabel, margin, y, 12);
    const bool hasInvitation = !invitationField->GetValue().empty();
    invitationLabel->Show(hasInvitation);
    invitationField->Show(hasInvitation);
    copyButton->Show(hasInvitation);
    if (hasInvitation) {
        y = place(invitationLabel, margin, y, 4);
        place(copyButton, width - margin - buttonWidth, y, 0);
        y = place(invitationField, margin, y, 12);
    }
    y = place(joinLabel, margin, y, 4);
    place(joinButton, width - margin - buttonWidth, y, 0);
    y = place(joinField, margin, y, 8);
    y = place(statusLabel, margin, y, margin);
    membersLabel->Show(!membersLabel->GetLabel().empty());
    if (membersLabel->IsShown())
        y = place(membersLabel, margin, y, margin);
    SetClientSize(width, y);
    panel->SetSize(width, y);
}

void ClientFrame::showState(const ControlState& state) {
    userLabel->SetLabel(fromUtf8(state.userName));
    activityLabel->SetLabel(fromUtf8(state.activityState));
    partyLabel->SetLabel(state.partyCapacity > 0
                             ? wxString::Format("%d of %d", state.partySize, state.partyCapacity)
                             : wxString());
    if (invitationField->GetValue() != fromUtf8(state.invitation))
        invitationField->ChangeValue(fromUtf8(state.invitation));
    if (!state.invitation.empty() && statusLabel->GetLabel() == preparingText)
        statusLabel->SetLabel("");
    layOut();
}

void ClientFrame::showStatus(const wxString& text) {
    statusLabel->SetLabel(text);
    statusLabel->Wrap(width - 2 * margin);
    // The label's best size is its fixed size here, so measure the lines.
    wxClientDC measure(statusLabel);
    measure.SetFont(statusLabel->GetFont());
    const wxSize lines = measure.GetMultiLineTextExtent(statusLabel->GetLabel());
    statusLabel->SetSize(width - 2 * margin, lines.GetHeight());
    layOut();
}

// The lobby's members, one a line: name, direct or relayed, endpoint, round
// trip. A row wider than the window puts its endpoint on a line of its own,
// shortened in the middle if even that is too wide, so every line fits and
// the list's height is its lines' (a label that wraps by itself would cut off
// the last rows).
void ClientFrame::showMembers(const std::vector<MemberMessage>& members) {
    wxClientDC measure(membersLabel);
    measure.SetFont(membersLabel->GetFont());
    const int room = width - 2 * margin;
    const auto fitted = [&](const wxString& line) {
        return wxControl::Ellipsize(line, measure, wxELLIPSIZE_MIDDLE, room);
    };
    wxString text;
    for (const auto& member : members) {
        const wxArrayString fields = wxSplit(fromUtf8(memberRow(member)), '\t', '\0');
        wxString row;
        for (const wxString& field : fields)
            row += (row.empty() ? "" : "  ") + field;
        if (measure.GetTextExtent(row).GetWidth() > room && fields.size() == 4)
            row = fitted(fields[0] + "  " + fields[1] + "  " + fields[3]) + "\n" +
                  fitted("    " + fields[2]);
        text += (text.empty() ? "" : "\n") + row;
    }
    if (text == membersLabel->GetLabel())
        return;
    membersLabel->SetLabel(text);
    const wxSize lines = measure.GetMultiLineTextExtent(text);
    membersLabel->SetSize(room, lines.GetHeight());
    layOut();
}

void ClientFrame::onPoll(wxTimerEvent&) {
    if (--pollsUntilMembers <= 0 && client->hasState()) {
        pollsUntilMembers = membersMilliseconds / pollMilliseconds;
        client->askMembers();
    }
    const bool open = client->poll();
    if (auto members = client->takeMembers())
        showMembers(*members);
    if (client->takeStateChanged())
        showState(client->state());
    if (client->takeInvitationOpened()) {
        // Opened before it is ready: the port mapping is still being tried.
        if (client->state().invitation.empty())
            showStatus(preparingText);
        Show();
        Raise();
        RequestUserAttention();
    }
    while (const auto answer = client->takeAnswer()) {
        if (answer->accepted) {
            joinField->Clear();
            showStatus("The program is joining.");
        } else {
            showStatus(sentence(answer->error));
        }
    }
    if (const auto result = client->takeJoinResult())
        showStatus(result->joined ? wxString("Joined the lobby.")
                                  : sentence("could not join: " + result->text));
    if (!open) {
        // The core is gone: nothing left to show.
        pollTimer.Stop();
        Close(true);
    }
}

void ClientFrame::onCopy(wxCommandEvent&) {
    if (!wxTheClipboard->Open()) {
        showStatus("The clipboard is busy; select the text and copy it.");
        return;
    }
    wxTheClipboard->SetData(new wxTextDataObject(invitationField->GetValue()));
    wxTheClipboard->Close();
    showStatus("Copied. Send it to a friend.");
}

void ClientFrame::onJoin(wxCommandEvent&) {
    const std::string pasted = joinField->GetValue().utf8_string();
    const std::string invitation(trimWhiteSpace(pasted));
    if (const auto problem = invitationRefusal(invitation)) {
        showStatus(sentence(*problem));
        return;
    }
    client->sendJoin(invitation);
    showStatus("Giving the invitation to the program...");
}
