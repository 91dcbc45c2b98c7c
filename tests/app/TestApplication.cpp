#include "app/App.h"
#include "tests/support/WindowTestMain.h"

// The program's own application: its OnInit shows the main window.
wxApp* createTestApplication() {
    return new App;
}
