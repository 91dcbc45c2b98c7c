#pragma once

#include <wx/panel.h>

class wxButton;
class wxStaticText;

// The window's content while a run is going: its address and byte counts and,
// for a host run, the "Invite" button. Positions and sizes are 96-DPI
// figures, scaled to the window's DPI.
class NetworkPanel : public wxPanel {
public:
    NetworkPanel(wxWindow* parent, bool isHost);

    // Places every control and sizes the panel for the window's current DPI
    // and fonts: at construction and again when the DPI changes.
    void arrange();

    wxStaticText* addressText;
    wxStaticText* sentText;
    wxStaticText* receivedText;

private:
    wxButton* inviteButton = nullptr; // a host run's only
};
