// Runs window tests inside a real toolkit application on the display of the
// environment (a private Xvfb under CTest). Each window test program says
// which application object it runs in (createTestApplication).
#include "tests/support/WindowTestMain.h"

#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/apptrait.h>
#include <wx/evtloop.h>
#include <wx/init.h>

#include <cstdio>
#include <memory>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    wxApp::SetInstance(createTestApplication());
    if (!wxEntryStart(argc, argv)) {
        fprintf(stderr, "cannot start the toolkit: is DISPLAY set?\n");
        return 1;
    }
    // An active loop, so that the tests can let timers and clicks be handled.
    std::unique_ptr<wxEventLoopBase> loop(wxTheApp->GetTraits()->CreateEventLoop());
    wxEventLoopActivator activator(loop.get());
    if (!wxTheApp->CallOnInit()) {
        fprintf(stderr, "the application's OnInit failed\n");
        return 1;
    }
    const int result = RUN_ALL_TESTS();
    wxTheApp->OnExit();
    wxEntryCleanup();
    return result;
}
