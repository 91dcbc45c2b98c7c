#include "sdk/control/ControlSocketPath.h"

#include "sdk/control/ControlError.h"
#include "sdk/control/ControlServer.h"
#include "sdk/os/LocalSocket.h"
#include "sdk/os/Process.h"
#include "sdk/os/RuntimeDirectory.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>

std::string controlSocketDirectory() {
    return sdk::os::runtimeDirectory("vaskor-sdk");
}

std::string prepareControlSocketDirectory() {
    std::string failure;
    std::string directory = sdk::os::privateDirectoryFor(controlSocketDirectory(), failure);
    if (directory.empty())
        throw ControlError(failure);
    return directory;
}

bool isInControlSocketDirectory(const std::string& socketPath) {
    const auto slash = socketPath.rfind('/');
    return slash != std::string::npos &&
           sdk::os::isPrivateDirectoryName(socketPath.substr(0, slash), controlSocketDirectory());
}

void removeControlSocketDirectoryIfEmpty(const std::string& socketPath) {
    // Refused while the directory still holds another core's socket.
    if (isInControlSocketDirectory(socketPath))
        sdk::os::removeEmptyDirectory(socketPath.substr(0, socketPath.rfind('/')));
}

std::unique_ptr<ControlServer> listenForNewCore() {
    const char* chosen = std::getenv(controlSocketSetting);
    if (chosen && chosen[0] != '\0')
        return std::make_unique<ControlServer>(chosen);
    // The count is this copy's own: a copy tries at most as many taken numbers
    // as other cores are alive.
    static std::atomic<unsigned> coresInProcess{0};
    constexpr unsigned attempts = 1024;
    std::string directory = prepareControlSocketDirectory();
    const std::string name = "/core-" + std::to_string(sdk::os::currentProcessId()) + "-";
    for (unsigned attempt = 0; attempt < attempts; ++attempt) {
        const std::string number = std::to_string(++coresInProcess) + ".sock";
        std::string path = directory + name + number;
        std::string failure;
        sdk::os::OwnedHandle listening = sdk::os::listenLocalSocketIfFree(path, failure);
        // Another core of this user that ended a moment ago may have removed
        // the directory between our creating it and binding: create it again.
        if (!listening.valid() && !failure.empty() && !std::filesystem::exists(directory)) {
            directory = prepareControlSocketDirectory();
            path = directory + name + number;
            listening = sdk::os::listenLocalSocketIfFree(path, failure);
        }
        if (listening.valid())
            return std::make_unique<ControlServer>(std::move(listening), std::move(path));
        if (!failure.empty())
            throw ControlError(failure);
    }
    throw ControlError("no free control socket name in " + directory);
}

std::vector<std::string> findLiveControlSockets() {
    std::vector<std::string> live;
    for (const std::string& directory : sdk::os::privateDirectoriesFor(controlSocketDirectory())) {
        for (const std::string& name : sdk::os::directoryEntries(directory)) {
            if (!name.ends_with(".sock"))
                continue;
            const std::string path = directory + "/" + name;
            // A core that does not take connections now is alive all the same.
            std::error_code error;
            if (sdk::os::connectLocalSocketWithin(path, std::chrono::milliseconds(0), error)
                    .valid() ||
                error == std::errc::timed_out)
                live.push_back(path);
        }
    }
    std::sort(live.begin(), live.end());
    return live;
}
