#pragma once

#include <wx/panel.h>

class wxButton;
class wxStaticText;
class wxTextCtrl;

// The first content of the window: "Host VPN", "Join VPN" and, behind
// "Show Advanced Settings", the host's address. Its clicks go to the frame.
// Positions and sizes are 96-DPI figures, scaled to the window's DPI.
class HostJoinSelectPanel : public wxPanel {
public:
    explicit HostJoinSelectPanel(wxWindow* parent);

    // Places every control and sizes the panel for the window's current DPI
    // and fonts: at construction and again when the DPI changes.
    void arrange();

    wxButton* advancedButton;
    wxTextCtrl* addressField;
    int expandedHeight; // the height that shows the address field

private:
    wxButton* hostButton;
    wxButton* joinButton;
    wxStaticText* addressLabel;
};
