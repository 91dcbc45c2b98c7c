#include "sdk/os/Process.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

namespace sdk::os {

namespace {

std::string directoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

} // namespace

ProcessId currentProcessId() {
    return ::getpid();
}

bool isExecutable(const std::string& path) {
    return ::access(path.c_str(), X_OK) == 0;
}

std::optional<std::string> libraryDirectory() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&libraryDirectory), &info) == 0 || !info.dli_fname)
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

StartedProcess startProcess(const std::string& program, const std::vector<std::string>& arguments) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // Nothing of the core (its sockets, the adapter) stays open in the window.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    std::string programPath = program;
    std::vector<std::string> texts = arguments;
    std::vector<char*> argv{programPath.data()};
    for (auto& text : texts)
        argv.push_back(text.data());
    argv.push_back(nullptr);
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
        ::posix_spawn(&pid, programPath.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        return {nullptr, std::strerror(error)};
    return {std::make_unique<ChildProcess>(pid), {}};
}

bool ChildProcess::running() {
    if (reaped)
        return false;
    int status = 0;
    const pid_t done = ::waitpid(static_cast<pid_t>(pid), &status, WNOHANG);
    reaped = done == pid || (done < 0 && errno == ECHILD);
    return !reaped;
}

ChildProcess::~ChildProcess() {
    if (!running())
        return;
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + seconds(1);
    while (running() && steady_clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(5));
    if (running()) {
        ::kill(static_cast<pid_t>(pid), SIGKILL);
        ::waitpid(static_cast<pid_t>(pid), nullptr, 0);
    }
}

} // namespace sdk::os
