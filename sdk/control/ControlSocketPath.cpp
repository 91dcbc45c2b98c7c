#include "sdk/control/ControlSocketPath.h"

#include "sdk/control/ControlError.h"
#include "sdk/control/FileDescriptor.h"
#include "sdk/control/UnixSocket.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

bool isOwnDirectory(const char* path) {
    struct stat info {};
    return ::stat(path, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid();
}

// The directory exists, is a real directory (no link) of this user, and no
// one else may enter it.
void ensurePrivateDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        throw ControlError("cannot create the control socket directory " + path + ": " +
                           std::strerror(errno));
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        throw ControlError("cannot inspect " + path + ": " + std::strerror(errno));
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 077) != 0)
        throw ControlError("the control socket directory " + path +
                           " is not a private directory of this user (mode 0700); remove it");
}

} // namespace

std::string controlSocketDirectory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && isOwnDirectory(runtime))
        return std::string(runtime) + "/vaskor-sdk";
    return "/tmp/vaskor-sdk-" + std::to_string(::geteuid());
}

void prepareControlSocketDirectory() {
    ensurePrivateDirectory(controlSocketDirectory());
}

void removeControlSocketDirectoryIfEmpty() {
    // rmdir refuses a directory that still holds another core's socket.
    ::rmdir(controlSocketDirectory().c_str());
}

std::string newControlSocketPath() {
    const char* chosen = std::getenv(controlSocketSetting);
    if (chosen && chosen[0] != '\0')
        return chosen;
    static std::atomic<unsigned> coresInProcess{0};
    const std::string directory = controlSocketDirectory();
    ensurePrivateDirectory(directory);
    return directory + "/core-" + std::to_string(::getpid()) + "-" +
           std::to_string(++coresInProcess) + ".sock";
}

std::vector<std::string> findLiveControlSockets() {
    const std::string directory = controlSocketDirectory();
    std::vector<std::string> live;
    DIR* listing = ::opendir(directory.c_str());
    if (!listing)
        return live;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (!name.ends_with(".sock"))
            continue;
        const std::string path = directory + "/" + name;
        if (connectUnixSocket(path).valid())
            live.push_back(path);
    }
    ::closedir(listing);
    std::sort(live.begin(), live.end());
    return live;
}
