#include "app/HostJoinSelectPanel.h"

#include "app/EmbeddedImage.h"
#include "app/Identifiers.h"
#include "app/Layout.h"

#include <wx/button.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace {

const wxColour panelGrey(68, 68, 68);
const wxColour white(255, 255, 255);
const wxColour dimText(170, 170, 170);

// GTK draws part of a hover frame around a flat button's image (light dashes
// at its top corners); the panel's buttons show their images and labels only.
class FramelessButton : public wxButton {
public:
    FramelessButton(wxWindow* parent, int id, const wxString& label, const wxPoint& position,
                    const wxSize& size)
        : wxButton(parent, id, label, position, size, wxBORDER_NONE) {
#ifdef __WXGTK3__
        GTKApplyCssStyle("*{border-style:none;border-color:transparent;box-shadow:none;"
                         "background-image:none;outline-style:none;}");
#endif
    }
};

void addImageButton(wxWindow* parent, int id, const wxString& label, const wxPoint& position,
                    const char* normalImage, const char* hoverImage) {
    const wxBitmap normal = loadEmbeddedImage(normalImage);
    const wxBitmap hover = loadEmbeddedImage(hoverImage);
    auto* button = new FramelessButton(parent, id, label, position, wxSize(80, 80));
    button->SetBackgroundColour(panelGrey);
    button->SetForegroundColour(white);
    button->SetBitmap(normal);
    button->SetBitmapPosition(wxTOP);
    button->SetBitmapCurrent(hover);
}

} // namespace

HostJoinSelectPanel::HostJoinSelectPanel(wxWindow* parent)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxBORDER_NONE,
              "panel") {
    SetBackgroundColour(panelGrey);
    SetForegroundColour(white);
    Move(0, 0);
    SetClientSize(240, 140);

    addImageButton(this, ID_HOST, "Host VPN", wxPoint(20, 30), "btn-host-default.png",
                   "btn-host-hover.png");
    addImageButton(this, ID_JOIN, "Join VPN", wxPoint(140, 30), "btn-join-default.png",
                   "btn-join-hover.png");

    advancedButton = new FramelessButton(this, ID_SHOW_ADVANCED, "Show Advanced Settings",
                                         wxDefaultPosition, wxDefaultSize);
    advancedButton->SetBackgroundColour(panelGrey);
    advancedButton->SetForegroundColour(dimText);
    const wxSize created = advancedButton->GetSize();
    const wxPoint at = advancedButton->GetPosition();
    advancedButton->SetSize(240, created.GetHeight());
    advancedButton->Move(at.x, 136 - created.GetHeight());

    auto* label = new wxStaticText(this, wxID_ANY, "Host IP CIDR", wxPoint(8, 148), wxDefaultSize,
                                   0, "staticText");
    label->SetSize(224, label->GetSize().GetHeight());

    addressField = new wxTextCtrl(this, wxID_ANY, "192.168.42.1/24", wxPoint(8, yBelow(label, 8)),
                                  wxDefaultSize, 0, wxDefaultValidator, "text");
    addressField->SetSize(224, addressField->GetSize().GetHeight());

    expandedHeight = yBelow(addressField, 8);
}
