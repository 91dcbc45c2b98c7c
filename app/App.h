#pragma once

#include <wx/app.h>

#include <string_view>

class App : public wxApp {
public:
    // startNotice: what a person must read before using the window (a test
    // build's limits), shown in a box over it; empty for none.
    explicit App(std::string_view startNotice = {}) : startNotice(startNotice) {}

    bool OnInit() override;

private:
    std::string_view startNotice;
};
