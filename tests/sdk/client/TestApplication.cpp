#include "tests/support/WindowTestMain.h"

#include <wx/app.h>

// A plain application: the tests make their client windows themselves.
wxApp* createTestApplication() {
    return new wxApp;
}
