#pragma once

#include <wx/panel.h>

class wxStaticText;

// The window's content while a run is going: its address and byte counts and,
// for a host run, the "Invite" button.
class NetworkPanel : public wxPanel {
public:
    NetworkPanel(wxWindow* parent, bool isHost);

    wxStaticText* addressText;
    wxStaticText* sentText;
    wxStaticText* receivedText;
};
