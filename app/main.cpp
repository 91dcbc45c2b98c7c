#include "app/App.h"

#include <wx/log.h>

wxIMPLEMENT_APP_NO_MAIN(App);

int main(int argc, char** argv) {
    // Release settings: toolkit assertions are silent, informational logging.
    wxSetAssertHandler(nullptr);
    wxLog::SetLogLevel(wxLOG_Info);
    return wxEntry(argc, argv);
}
