#include "app/NetworkPanel.h"

#include "app/Identifiers.h"
#include "app/Layout.h"

#include <wx/button.h>
#include <wx/stattext.h>

namespace {

wxStaticText* addStatusLine(wxWindow* parent, const wxString& text, int y) {
    auto* line =
        new wxStaticText(parent, wxID_ANY, text, wxPoint(8, y), wxDefaultSize, 0, "staticText");
    line->SetSize(224, line->GetSize().GetHeight());
    return line;
}

} // namespace

NetworkPanel::NetworkPanel(wxWindow* parent, bool isHost)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxBORDER_NONE,
              "panel") {
    SetBackgroundColour(wxColour(68, 68, 68));
    SetForegroundColour(wxColour(255, 255, 255));
    Move(0, 0);

    addressText = addStatusLine(this, "Waiting for connection", 8);
    sentText = addStatusLine(this, "", yBelow(addressText, 8));
    receivedText = addStatusLine(this, "", yBelow(sentText, 4));
    wxWindow* last = receivedText;

    if (isHost) {
        auto* invite = new wxButton(this, ID_INVITE, "Invite", wxPoint(8, yBelow(receivedText, 16)),
                                    wxDefaultSize, 0, wxDefaultValidator, "button");
        invite->SetSize(224, invite->GetSize().GetHeight());
        last = invite;
    }
    SetClientSize(240, yBelow(last, 8));
}
