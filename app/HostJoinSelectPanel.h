#pragma once

#include <wx/panel.h>

class wxButton;
class wxTextCtrl;

// The first content of the window: "Host VPN", "Join VPN" and, behind
// "Show Advanced Settings", the host's address. Its clicks go to the frame.
class HostJoinSelectPanel : public wxPanel {
public:
    explicit HostJoinSelectPanel(wxWindow* parent);

    wxButton* advancedButton;
    wxTextCtrl* addressField;
    int expandedHeight; // the height that shows the address field
};
