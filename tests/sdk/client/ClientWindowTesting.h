#pragma once

// Helpers for the tests that drive the real client window from outside.

#include "sdk/client/ClientFrame.h"
#include "sdk/control/ControlClient.h"
#include "sdk/control/ControlServer.h"
#include "tests/support/ControlTesting.h"

#include <wx/app.h>
#include <wx/gdicmn.h>

#include <cstdio>
#include <memory>
#include <string>

// What a shell command printed, without its last line ends.
inline std::string commandOutput(const std::string& command) {
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe))
            text += buffer;
        ::pclose(pipe);
    }
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

// Where a control lies in the window, from a window of the same build laid
// out in this process (the program's own window gives xdotool no controls).
inline wxPoint clientControlCentre(int id) {
    TemporaryDirectory directory;
    ControlServer server(directory.file("layout.sock"));
    auto* frame = new ClientFrame(std::make_unique<ControlClient>(server.path()));
    const wxRect rect = frame->FindWindow(id)->GetRect();
    frame->Destroy();
    wxTheApp->ProcessPendingEvents();
    return rect.GetPosition() + wxPoint(rect.width / 2, rect.height / 2);
}
