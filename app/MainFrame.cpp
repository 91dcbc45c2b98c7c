#include "app/MainFrame.h"

#include "adapter/Ipv4Cidr.h"
#include "app/CurrentVpn.h"
#include "app/EmbeddedImage.h"
#include "app/HostJoinSelectPanel.h"
#include "app/Identifiers.h"
#include "app/NetworkPanel.h"

#include <wx/button.h>
#include <wx/icon.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/weakref.h>

#include <cstring>
#include <exception>
#include <string>

// clang-format off
wxBEGIN_EVENT_TABLE(MainFrame, wxFrame)
    EVT_BUTTON(ID_HOST, MainFrame::onHost)
    EVT_BUTTON(ID_JOIN, MainFrame::onJoin)
    EVT_BUTTON(ID_INVITE, MainFrame::onInvite)
    EVT_TIMER(ID_STATUS_TIMER, MainFrame::onStatusTimer)
    EVT_BUTTON(ID_SHOW_ADVANCED, MainFrame::onShowAdvanced)
wxEND_EVENT_TABLE()
    // clang-format on

    namespace {

    constexpr long errorStyle = wxOK | wxICON_ERROR;
    constexpr long informationStyle = wxOK | wxICON_INFORMATION;

    // The engine's texts are narrow, in the C library's encoding.
    wxString fromNarrow(const std::string& text) {
        return wxString(text.c_str(), wxConvLibc);
    }

    std::string toNarrow(const wxString& text) {
        const wxCharBuffer converted = text.mb_str(wxConvLibc);
        return converted.data() ? std::string(converted.data()) : std::string();
    }

    unsigned lastOctet(const Ipv4Cidr& value) {
        unsigned char octets[4];
        std::memcpy(octets, &value.address, sizeof octets);
        return octets[3];
    }

} // namespace

MainFrame::MainFrame()
    : wxFrame(nullptr, wxID_ANY, "Vaskor VPN", wxDefaultPosition, wxDefaultSize,
              wxDEFAULT_FRAME_STYLE | wxWANTS_CHARS, wxFrameNameStr) {
    wxIcon icon;
    icon.CopyFromBitmap(loadEmbeddedImage("icon.png"));
    SetIcon(icon);

    hostJoinPanel = new HostJoinSelectPanel(this);
    fitToPanel(hostJoinPanel);
    CentreOnScreen(wxBOTH);
    Bind(wxEVT_DPI_CHANGED, &MainFrame::onDpiChanged, this);
}

void MainFrame::onDpiChanged(wxDPIChangedEvent&) {
    if (hostJoinPanel) {
        hostJoinPanel->arrange();
        fitToPanel(hostJoinPanel);
    } else if (networkPanel) {
        networkPanel->arrange();
        fitToPanel(networkPanel);
    }
}

void MainFrame::fitToPanel(const wxWindow* panel) {
    SetClientSize(panel->GetSize());
}

void MainFrame::onShowAdvanced(wxCommandEvent&) {
    hostJoinPanel->advancedButton->Destroy();
    hostJoinPanel->advancedButton = nullptr;
    const wxSize size = hostJoinPanel->GetSize();
    hostJoinPanel->SetSize(size.GetWidth(), hostJoinPanel->expandedHeight);
    fitToPanel(hostJoinPanel);
}

void MainFrame::onHost(wxCommandEvent&) {
    guardStart([this] {
        const Ipv4Cidr address =
            Ipv4Cidr::parse(toNarrow(hostJoinPanel->addressField->GetValue()).c_str());
        if (address.prefix != 24) {
            showMessage("You must use a /24 subnet", "Cannot start VPN", errorStyle);
            return;
        }
        if (lastOctet(address) != 1) {
            showMessage("IP address must end in .1", "Cannot start VPN", errorStyle);
            return;
        }
        beginRun(std::make_unique<Vpn>(address), true);
    });
}

void MainFrame::onJoin(wxCommandEvent&) {
    guardStart([this] { beginRun(std::make_unique<Vpn>(), false); });
}

void MainFrame::guardStart(const std::function<void()>& start) {
    try {
        start();
    } catch (const std::exception& error) {
        showMessage("Cannot start VPN: " + fromNarrow(error.what()), "Cannot start VPN",
                    errorStyle);
        Close();
    }
}

void MainFrame::beginRun(std::unique_ptr<Vpn> run, bool isHost) {
    currentVpn = std::move(run);

    // The click that got here is still being handled by a button of this
    // panel: hide the panel now and destroy it once that event is done.
    HostJoinSelectPanel* finished = hostJoinPanel;
    hostJoinPanel = nullptr;
    finished->Hide();
    CallAfter([finished] { finished->Destroy(); });

    networkPanel = new NetworkPanel(this, isHost);
    fitToPanel(networkPanel);
    statusTimer.Start(1000);
}

void MainFrame::onInvite(wxCommandEvent&) {
    if (currentVpn)
        currentVpn->requestInvite();
}

void MainFrame::onStatusTimer(wxTimerEvent&) {
    if (!currentVpn)
        return;
    // A box is modal and the timer keeps ticking: a later tick may close the
    // frame while this one waits for its box.
    wxWeakRef<MainFrame> self(this);

    if (std::optional<std::runtime_error> error = currentVpn->takeError()) {
        showMessage(fromNarrow(error->what()), "Error", errorStyle);
        if (self)
            Close();
        return;
    }
    if (std::optional<std::string> message = currentVpn->takeMessage()) {
        showMessage(fromNarrow(*message), "Message", informationStyle);
        if (!self || IsBeingDeleted())
            return;
    }
    refreshStatus();
}

void MainFrame::refreshStatus() {
    const std::optional<Ipv4Cidr> address = currentVpn->address();
    const std::uint64_t received = currentVpn->receivedBytes();
    const std::uint64_t sent = currentVpn->sentBytes();
    if (address)
        networkPanel->addressText->SetLabelText("IP: " + fromNarrow(address->toString()));
    networkPanel->sentText->SetLabelText("Sent Bytes: " + std::to_string(sent));
    networkPanel->receivedText->SetLabelText("Received Bytes: " + std::to_string(received));
}
