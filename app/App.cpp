#include "app/App.h"

#include "app/MainFrame.h"
#include "platform/Process.h"

#include <wx/image.h>
#include <wx/msgdlg.h>

// The toolkit's command-line parsing never runs: the program takes no arguments.
bool App::OnInit() {
    if (isWow64Process()) {
        wxMessageBox("You must run the 64 bit version on a 64 bit OS.", "Error",
                     wxOK | wxICON_ERROR);
        return false;
    }
    wxImage::AddHandler(new wxPNGHandler);
    auto* frame = new MainFrame();
    frame->Show(true);
    // Once the window is up, so that the box stands over it.
    if (!startNotice.empty()) {
        const wxString notice = wxString::FromUTF8(startNotice.data(), startNotice.size());
        frame->CallAfter(
            [frame, notice] { frame->showMessage(notice, "Test build", wxOK | wxICON_WARNING); });
    }
    return true;
}
