#include "app/MessageBox.h"

#include <wx/msgdlg.h>

void showMessageBox(const wxString& text, const wxString& caption, long style) {
    wxMessageBox(text, caption, style, nullptr);
}
