#pragma once

#include "app/Identifiers.h"
#include "app/MessageBox.h"

#include <wx/frame.h>
#include <wx/timer.h>

#include <functional>
#include <memory>

class HostJoinSelectPanel;
class NetworkPanel;
class Vpn;
class wxCommandEvent;
class wxDPIChangedEvent;

// The program's one window: the host/join panel until a run starts, then the
// network status panel. Every button and timer event of the program ends here.
class MainFrame : public wxFrame {
public:
    MainFrame();

    HostJoinSelectPanel* hostJoinPanel;
    NetworkPanel* networkPanel = nullptr;

    // How the frame shows its message boxes (tests watch them through this).
    MessageBoxPresenter showMessage = showMessageBox;

private:
    void onHost(wxCommandEvent& event);
    void onJoin(wxCommandEvent& event);
    void onInvite(wxCommandEvent& event);
    void onStatusTimer(wxTimerEvent& event);
    void onShowAdvanced(wxCommandEvent& event);
    // The window moved to a display of another scale: its fonts and images
    // are the toolkit's; the positions and sizes are ours.
    void onDpiChanged(wxDPIChangedEvent& event);

    // Runs a start of a run; any failure is shown and closes the window.
    void guardStart(const std::function<void()>& start);
    void beginRun(std::unique_ptr<Vpn> run, bool isHost);
    void refreshStatus();
    // Sets the client size to the current content panel's size.
    void fitToPanel(const wxWindow* panel);

    wxTimer statusTimer{this, ID_STATUS_TIMER};

    wxDECLARE_EVENT_TABLE();
};
