#pragma once

#include <wx/app.h>

class App : public wxApp {
public:
    bool OnInit() override;
};

wxDECLARE_APP(App);
