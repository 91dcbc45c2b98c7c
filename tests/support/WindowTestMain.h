#pragma once

class wxApp;

// The application object a window test program runs in; each program defines it.
wxApp* createTestApplication();
