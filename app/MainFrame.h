#pragma once

#include <wx/frame.h>

class HostJoinSelectPanel;
class NetworkPanel;
class wxCommandEvent;
class wxTimerEvent;

// The program's one window: the host/join panel until a run starts, then the
// network status panel. Every button and timer event of the program ends here.
class MainFrame : public wxFrame {
public:
    MainFrame();

    HostJoinSelectPanel* hostJoinPanel;
    NetworkPanel* networkPanel = nullptr;

private:
    void onHost(wxCommandEvent& event);
    void onJoin(wxCommandEvent& event);
    void onInvite(wxCommandEvent& event);
    void onStatusTimer(wxTimerEvent& event);
    void onShowAdvanced(wxCommandEvent& event);

    // Sets the client size to the current content panel's size.
    void fitToPanel(const wxWindow* panel);

    wxDECLARE_EVENT_TABLE();
};
