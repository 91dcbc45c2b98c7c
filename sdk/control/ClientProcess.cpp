#include "sdk/control/ClientProcess.h"
#include "sdk/os/Display.h"

#include <cstdlib>

namespace {

bool isTurnedOff(const std::string& value) {
    return value == "0" || value == "no" || value == "off" || value == "false";
}

bool isTurnedOn(const std::string& value) {
    return value.empty() || value == "1" || value == "yes" || value == "on" || value == "true";
}

bool hasValue(const std::optional<std::string>& value) {
    return value && !value->empty();
}

} // namespace

std::optional<std::string> environmentSetting(const char* name) {
    const char* value = std::getenv(name);
    if (!value)
        return std::nullopt;
    return std::string(value);
}

std::optional<std::string> findClientProgram(const SettingLookup& setting) {
    if (const auto chosen = setting(clientPathSetting); hasValue(chosen))
        return chosen;
    for (const auto& directory : {sdk::os::libraryDirectory(), sdk::os::programDirectory()}) {
        if (!directory)
            continue;
        const std::string candidate = *directory + "/" + clientProgramName;
        if (sdk::os::isExecutable(candidate))
            return candidate;
    }
#ifdef VASKOR_SDK_CLIENT_BUILD_PATH
    if (sdk::os::isExecutable(VASKOR_SDK_CLIENT_BUILD_PATH))
        return std::string(VASKOR_SDK_CLIENT_BUILD_PATH);
#endif
    return std::nullopt;
}

ClientLaunch startClientProcess(const std::string& socketPath, const SettingLookup& setting) {
    if (const auto enabled = setting(clientEnabledSetting); enabled && !isTurnedOn(*enabled)) {
        if (isTurnedOff(*enabled))
            return {nullptr, "the client window is turned off (" +
                                 std::string(clientEnabledSetting) + "=" + *enabled + ")"};
        return {nullptr, "the client window is not started: " + std::string(clientEnabledSetting) +
                             " is '" + *enabled + "', not 1, yes, on, true, 0, no, off or false"};
    }
    if (!sdk::os::hasDisplay(setting))
        return {nullptr, "no display for the client window"};
    const auto program = findClientProgram(setting);
    if (!program)
        return {nullptr, std::string("the client window program ") + clientProgramName +
                             " was not found; set " + clientPathSetting};

    const std::string& programPath = *program;
    auto started = sdk::os::startProcess(programPath, {"--socket", socketPath});
    if (!started.process)
        return {nullptr, "cannot start the client window " + programPath + ": " + started.failure};
    return {std::move(started.process), "started " + programPath};
}
