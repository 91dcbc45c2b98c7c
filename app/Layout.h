#pragma once

class wxWindow;

// The y just below window plus gap, for stacking controls at fixed positions;
// gap alone for no window.
int yBelow(const wxWindow* window, int gap);
