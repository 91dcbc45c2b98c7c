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

wxButton* addImageButton(wxWindow* parent, int id, const wxString& label, const char* normalImage,
                         const char* hoverImage) {
    auto* button =
        new FramelessButton(parent, id, label, wxDefaultPosition, parent->FromDIP(wxSize(80, 80)));
    button->SetBackgroundColour(panelGrey);
    button->SetForegroundColour(white);
    button->SetBitmap(loadEmbeddedImageBundle(normalImage));
    button->SetBitmapPosition(wxTOP);
    button->SetBitmapCurrent(loadEmbeddedImageBundle(hoverImage));
    return button;
}

// The default height of a control for its text at the window's DPI.
int defaultHeight(const wxWindow* control) {
    return control->GetBestSize().GetHeight();
}

} // namespace

HostJoinSelectPanel::HostJoinSelectPanel(wxWindow* parent)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxBORDER_NONE,
              "panel") {
    SetBackgroundColour(panelGrey);
    SetForegroundColour(white);
    Move(0, 0);

    hostButton =
        addImageButton(this, ID_HOST, "Host VPN", "btn-host-default.png", "btn-host-hover.png");
    joinButton =
        addImageButton(this, ID_JOIN, "Join VPN", "btn-join-default.png", "btn-join-hover.png");

    advancedButton = new FramelessButton(this, ID_SHOW_ADVANCED, "Show Advanced Settings",
                                         wxDefaultPosition, wxDefaultSize);
    advancedButton->SetBackgroundColour(panelGrey);
    advancedButton->SetForegroundColour(dimText);

    addressLabel = new wxStaticText(this, wxID_ANY, "Host IP CIDR", wxDefaultPosition,
                                    wxDefaultSize, 0, "staticText");
    addressField = new wxTextCtrl(this, wxID_ANY, "192.168.42.1/24", wxDefaultPosition,
                                  wxDefaultSize, 0, wxDefaultValidator, "text");
    arrange();
}

// The label and the field lie below the compact panel until the advanced
// settings are shown; the strip's bottom edge stays 4 above the panel's.
void HostJoinSelectPanel::arrange() {
    hostButton->SetSize(wxRect(FromDIP(wxPoint(20, 30)), FromDIP(wxSize(80, 80))));
    joinButton->SetSize(wxRect(FromDIP(wxPoint(140, 30)), FromDIP(wxSize(80, 80))));
    if (advancedButton) {
        const int height = defaultHeight(advancedButton);
        advancedButton->SetSize(0, FromDIP(136) - height, FromDIP(240), height);
    }
    addressLabel->SetSize(FromDIP(8), FromDIP(148), FromDIP(224), defaultHeight(addressLabel));
    addressField->SetSize(FromDIP(8), yBelow(addressLabel, FromDIP(8)), FromDIP(224),
                          defaultHeight(addressField));
    expandedHeight = yBelow(addressField, FromDIP(8));
    SetClientSize(FromDIP(240), advancedButton ? FromDIP(140) : expandedHeight);
}
