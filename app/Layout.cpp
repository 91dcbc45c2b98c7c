#include "app/Layout.h"

#include <wx/window.h>

int yBelow(const wxWindow* window, int gap) {
    if (!window)
        return gap;
    return window->GetPosition().y + window->GetSize().GetHeight() + gap;
}
