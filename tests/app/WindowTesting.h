#pragma once

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/timer.h>
#include <wx/utils.h>

#include <chrono>
#include <functional>

// Lets the toolkit handle its events until done() holds or the time is up.
inline bool processEventsUntil(const std::function<bool()>& done,
                               std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        wxTheApp->ProcessPendingEvents();
        if (wxEventLoopBase* loop = wxEventLoopBase::GetActive())
            loop->YieldFor(wxEVT_CATEGORY_ALL);
        else
            wxYield();
        wxMilliSleep(5);
    }
    return true;
}
