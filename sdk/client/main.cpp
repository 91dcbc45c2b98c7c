// vaskor-sdk-client: the game SDK's client window, or with a command its
// command line, which needs no display.
#include "sdk/client/ClientFrame.h"
#include "sdk/client/ClientOptions.h"
#include "sdk/client/CommandLine.h"
#include "sdk/control/ClientProcess.h"
#include "sdk/control/ControlError.h"
#include "sdk/os/Display.h"

#include <wx/app.h>
#include <wx/log.h>

#include <iostream>
#include <memory>

namespace {

class ClientApp : public wxApp {
public:
    explicit ClientApp(std::unique_ptr<ControlClient> client) : client(std::move(client)) {}
    bool OnInit() override {
        (new ClientFrame(std::move(client)))->Show(true);
        return true;
    }

private:
    std::unique_ptr<ControlClient> client;
};

} // namespace

int main(int argc, char** argv) {
    const auto parsed = parseClientOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (const auto* problem = std::get_if<std::string>(&parsed)) {
        std::cerr << "vaskor-sdk-client: " << *problem << "\n" << clientUsage;
        return exitStatus::usage;
    }
    const auto& options = std::get<ClientOptions>(parsed);
    if (options.mode == ClientOptions::Mode::help) {
        std::cout << clientUsage;
        return exitStatus::done;
    }
    if (options.mode != ClientOptions::Mode::window)
        return runControlCommand(options, std::cout, std::cerr);

    if (!sdk::os::hasDisplay(environmentSetting)) {
        std::cerr << "vaskor-sdk-client: the window needs a display; without one use the "
                     "commands:\n"
                  << clientUsage;
        return exitStatus::usage;
    }
    std::unique_ptr<ControlClient> client;
    try {
        client = std::make_unique<ControlClient>(resolveSocketPath(options));
    } catch (const ControlError& error) {
        std::cerr << "vaskor-sdk-client: " << error.what() << std::endl;
        return exitStatus::noCore;
    }
    wxSetAssertHandler(nullptr);
    wxLog::SetLogLevel(wxLOG_Info);
    wxApp::SetInstance(new ClientApp(std::move(client)));
    int toolkitArgc = 1;
    return wxEntry(toolkitArgc, argv);
}
