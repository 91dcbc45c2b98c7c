#include "app/AdapterNotice.h"
#include "app/App.h"
#include "app/CurrentVpn.h"
#include "platform/Process.h"

#include <wx/log.h>

#include <iostream>

namespace {

// The program's application: the window, with a test build's notice over it.
class ProgramApp : public App {
public:
    ProgramApp() : App(testBuildNotice) {}
};

} // namespace

wxIMPLEMENT_APP_NO_MAIN(ProgramApp);

int main(int argc, char** argv) {
    if (!adapterNotice.empty())
        std::cerr << adapterNotice << std::endl;
    // Installed with CAP_NET_ADMIN for creating the adapter; nothing the
    // program starts (the SDK's client window) may have it.
    keepCapabilitiesFromChildren();
    // Release settings: toolkit assertions are silent, informational logging.
    wxSetAssertHandler(nullptr);
    wxLog::SetLogLevel(wxLOG_Info);
    const int status = wxEntry(argc, argv);
    // Stop and join the run before static objects that its worker may still
    // use (the embedded files' index) are destroyed.
    currentVpn.reset();
    return status;
}
