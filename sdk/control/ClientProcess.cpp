#include "sdk/control/ClientProcess.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace {

bool isExecutable(const std::string& path) {
    return ::access(path.c_str(), X_OK) == 0;
}

std::string directoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// The SDK library's own file, when it was loaded from one: a copy mapped from
// memory has no directory to look in.
std::optional<std::string> libraryDirectory() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&startClientProcess), &info) == 0 || !info.dli_fname)
        return std::nullopt;
    const std::string file = info.dli_fname;
    if (!file.starts_with("/") || file.starts_with("/proc/") || file.starts_with("/memfd:"))
        return std::nullopt;
    return directoryOf(file);
}

std::optional<std::string> programDirectory() {
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return std::nullopt;
    return directoryOf(std::string(path, static_cast<std::size_t>(length)));
}

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
    for (const auto& directory : {libraryDirectory(), programDirectory()}) {
        if (!directory)
            continue;
        const std::string candidate = *directory + "/" + clientProgramName;
        if (isExecutable(candidate))
            return candidate;
    }
#ifdef VASKOR_SDK_CLIENT_BUILD_PATH
    if (isExecutable(VASKOR_SDK_CLIENT_BUILD_PATH))
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
    if (!hasValue(setting("DISPLAY")) && !hasValue(setting("WAYLAND_DISPLAY")))
        return {nullptr, "no display for the client window"};
    const auto program = findClientProgram(setting);
    if (!program)
        return {nullptr, std::string("the client window program ") + clientProgramName +
                             " was not found; set " + clientPathSetting};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // Nothing of the core (its sockets, the adapter) stays open in the window.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    std::string socketOption = "--socket";
    std::string programPath = *program;
    std::string socketArgument = socketPath;
    char* arguments[] = {programPath.data(), socketOption.data(), socketArgument.data(), nullptr};
    // Whatever the core's thread blocks or ignores, the window takes signals
    // as a fresh program does, so that stopping it works.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigfillset(&signals);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    const int error =
        ::posix_spawn(&pid, programPath.c_str(), &actions, &attributes, arguments, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        return {nullptr,
                "cannot start the client window " + programPath + ": " + std::strerror(error)};
    return {std::make_unique<ClientProcess>(pid), "started " + programPath};
}

bool ClientProcess::running() {
    if (reaped)
        return false;
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    reaped = done == pid || (done < 0 && errno == ECHILD);
    return !reaped;
}

ClientProcess::~ClientProcess() {
    if (!running())
        return;
    ::kill(pid, SIGTERM);
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + seconds(1);
    while (running() && steady_clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(5));
    if (running()) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
}
