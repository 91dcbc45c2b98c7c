#include "app/MainFrame.h"

#include "app/EmbeddedImage.h"
#include "app/HostJoinSelectPanel.h"
#include "app/Identifiers.h"

#include <wx/button.h>
#include <wx/icon.h>
#include <wx/timer.h>

// clang-format off
wxBEGIN_EVENT_TABLE(MainFrame, wxFrame)
    EVT_BUTTON(ID_HOST, MainFrame::onHost)
    EVT_BUTTON(ID_JOIN, MainFrame::onJoin)
    EVT_BUTTON(ID_INVITE, MainFrame::onInvite)
    EVT_TIMER(ID_STATUS_TIMER, MainFrame::onStatusTimer)
    EVT_BUTTON(ID_SHOW_ADVANCED, MainFrame::onShowAdvanced)
wxEND_EVENT_TABLE()
// clang-format on

MainFrame::MainFrame()
    : wxFrame(nullptr, wxID_ANY, "Vaskor VPN", wxDefaultPosition, wxDefaultSize,
              wxDEFAULT_FRAME_STYLE | wxWANTS_CHARS, wxFrameNameStr) {
    wxIcon icon;
    icon.CopyFromBitmap(loadEmbeddedImage("icon.png"));
    SetIcon(icon);

    hostJoinPanel = new HostJoinSelectPanel(this);
    fitToPanel(hostJoinPanel);
    CentreOnScreen(wxBOTH);
}

void MainFrame::fitToPanel(const wxWindow* panel) { SetClientSize(panel->GetSize()); }

void MainFrame::onShowAdvanced(wxCommandEvent&) {
    hostJoinPanel->advancedButton->Destroy();
    hostJoinPanel->advancedButton = nullptr;
    const wxSize size = hostJoinPanel->GetSize();
    hostJoinPanel->SetSize(size.GetWidth(), hostJoinPanel->expandedHeight);
    fitToPanel(hostJoinPanel);
}

void MainFrame::onHost(wxCommandEvent&) {}

void MainFrame::onJoin(wxCommandEvent&) {}

void MainFrame::onInvite(wxCommandEvent&) {}

void MainFrame::onStatusTimer(wxTimerEvent&) {}
