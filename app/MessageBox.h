#pragma once

#include <wx/string.h>

#include <functional>

// Shows a message box without a parent window and returns once it is
// dismissed. A MainFrame shows every box through one of these, so that tests
// can watch and answer the boxes; the program always uses showMessageBox.
using MessageBoxPresenter =
    std::function<void(const wxString& text, const wxString& caption, long style)>;

void showMessageBox(const wxString& text, const wxString& caption, long style);
