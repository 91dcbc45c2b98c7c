#include "sdk/control/ControlSocketPath.h"

#include "sdk/control/ControlError.h"
#include "sdk/control/ControlServer.h"
#include "sdk/os/LocalSocket.h"
#include "sdk/os/Process.h"
#include "sdk/os/RuntimeDirectory.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>

namespace {

// The directory exists, is a real directory (no link) of this user, and no
// one else may enter it.
void ensurePrivateDirectory(const std::string& path) {
    std::string failure;
    if (!sdk::os::ensurePrivateDirectory(path, failure))
        throw ControlError(failure);
}

} // namespace

std::string controlSocketDirectory() {
    return sdk::os::runtimeDirectory("vaskor-sdk");
}

void prepareControlSocketDirectory() {
    ensurePrivateDirectory(controlSocketDirectory());
}

void removeControlSocketDirectoryIfEmpty() {
    // Refused while the directory still holds another core's socket.
    sdk::os::removeEmptyDirectory(controlSocketDirectory());
}

std::unique_ptr<ControlServer> listenForNewCore() {
    const char* chosen = std::getenv(controlSocketSetting);
    if (chosen && chosen[0] != '\0')
        return std::make_unique<ControlServer>(chosen);
    // The count is this copy's own: a copy tries at most as many taken numbers
    // as other cores are alive.
    static std::atomic<unsigned> coresInProcess{0};
    constexpr unsigned attempts = 1024;
    const std::string directory = controlSocketDirectory();
    ensurePrivateDirectory(directory);
    const std::string prefix =
        directory + "/core-" + std::to_string(sdk::os::currentProcessId()) + "-";
    for (unsigned attempt = 0; attempt < attempts; ++attempt) {
        std::string path = prefix + std::to_string(++coresInProcess) + ".sock";
        std::string failure;
        sdk::os::OwnedHandle listening = sdk::os::listenLocalSocketIfFree(path, failure);
        // Another core of this user that ended a moment ago may have removed
        // the directory between our creating it and binding: create it again.
        if (!listening.valid() && !failure.empty() && !std::filesystem::exists(directory)) {
            ensurePrivateDirectory(directory);
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
    const std::string directory = controlSocketDirectory();
    std::vector<std::string> live;
    for (const std::string& name : sdk::os::directoryEntries(directory)) {
        if (!name.ends_with(".sock"))
            continue;
        const std::string path = directory + "/" + name;
        std::error_code ignored;
        if (sdk::os::connectLocalSocket(path, ignored).valid())
            live.push_back(path);
    }
    std::sort(live.begin(), live.end());
    return live;
}
