// Runs the client window tests inside a real toolkit application on the
// display of the environment (a private Xvfb under CTest).
#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/apptrait.h>
#include <wx/evtloop.h>
#include <wx/init.h>

#include <cstdio>
#include <memory>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(argc, argv)) {
        fprintf(stderr, "cannot start the toolkit: is DISPLAY set?\n");
        return 1;
    }
    // An active loop, so that the tests can let timers and clicks be handled.
    std::unique_ptr<wxEventLoopBase> loop(wxTheApp->GetTraits()->CreateEventLoop());
    wxEventLoopActivator activator(loop.get());
    const int result = RUN_ALL_TESTS();
    wxEntryCleanup();
    return result;
}
