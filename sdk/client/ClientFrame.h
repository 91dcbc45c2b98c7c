#pragma once

#include "sdk/control/ControlClient.h"

#include <wx/frame.h>
#include <wx/timer.h>

#include <memory>
#include <vector>

class wxButton;
class wxCommandEvent;
class wxPanel;
class wxStaticText;
class wxTextCtrl;
class wxTimerEvent;

// The game SDK's client window: the user, the activity, the invitation to
// share once the program opened it, and a field for a friend's invitation.
// It only polls its core's control socket, and closes when the core is gone.
class ClientFrame : public wxFrame {
public:
    static constexpr const char* title = "Vaskor SDK";
    static constexpr int pollMilliseconds = 50;

    explicit ClientFrame(std::unique_ptr<ControlClient> client);

    // Named controls, for the window tests.
    enum Id {
        ID_USER = wxID_HIGHEST + 1,
        ID_ACTIVITY,
        ID_PARTY,
        ID_INVITATION,
        ID_COPY,
        ID_JOIN_FIELD,
        ID_JOIN,
        ID_STATUS,
        ID_MEMBERS,
    };
    // How often the member list (with its round trips) is asked for.
    static constexpr int membersMilliseconds = 1000;

private:
    void onPoll(wxTimerEvent& event);
    void onCopy(wxCommandEvent& event);
    void onJoin(wxCommandEvent& event);
    void showState(const ControlState& state);
    void showStatus(const wxString& text);
    void showMembers(const std::vector<MemberMessage>& members);
    void layOut();

    std::unique_ptr<ControlClient> client;
    wxTimer pollTimer;
    wxPanel* panel;
    wxStaticText* userLabel;
    wxStaticText* activityLabel;
    wxStaticText* partyLabel;
    wxStaticText* invitationLabel;
    wxTextCtrl* invitationField;
    wxButton* copyButton;
    wxStaticText* joinLabel;
    wxTextCtrl* joinField;
    wxButton* joinButton;
    wxStaticText* statusLabel;
    wxStaticText* membersLabel;
    int pollsUntilMembers = 0;
};
