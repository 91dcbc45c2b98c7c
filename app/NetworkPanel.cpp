#include "app/NetworkPanel.h"

#include "app/Identifiers.h"
#include "app/Layout.h"

#include <wx/button.h>
#include <wx/stattext.h>

namespace {

wxStaticText* addStatusLine(wxWindow* parent, const wxString& text) {
    return new wxStaticText(parent, wxID_ANY, text, wxDefaultPosition, wxDefaultSize, 0,
                            "staticText");
}

// Puts a control at x 8 and y, 224 wide at its default height.
void placeLine(wxWindow* control, int y) {
    const wxWindow* panel = control->GetParent();
    control->SetSize(panel->FromDIP(8), y, panel->FromDIP(224), control->GetBestSize().GetHeight());
}

} // namespace

NetworkPanel::NetworkPanel(wxWindow* parent, bool isHost)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxBORDER_NONE,
              "panel") {
    SetBackgroundColour(wxColour(68, 68, 68));
    SetForegroundColour(wxColour(255, 255, 255));
    Move(0, 0);

    addressText = addStatusLine(this, "Waiting for connection");
    sentText = addStatusLine(this, "");
    receivedText = addStatusLine(this, "");
    if (isHost)
        inviteButton = new wxButton(this, ID_INVITE, "Invite", wxDefaultPosition, wxDefaultSize, 0,
                                    wxDefaultValidator, "button");
    arrange();
}

void NetworkPanel::arrange() {
    placeLine(addressText, FromDIP(8));
    placeLine(sentText, yBelow(addressText, FromDIP(8)));
    placeLine(receivedText, yBelow(sentText, FromDIP(4)));
    wxWindow* last = receivedText;
    if (inviteButton) {
        placeLine(inviteButton, yBelow(receivedText, FromDIP(16)));
        last = inviteButton;
    }
    SetClientSize(FromDIP(240), yBelow(last, FromDIP(8)));
}
