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

// A real directory (no link) of this user that no one else may enter.
bool isPrivateDirectory(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
}

// Directories made beside the usual one when someone else held it:
// <usual>-XXXXXX, private to this user.
std::vector<std::string> privateSiblings(const std::string& usual) {
    const auto slash = usual.rfind('/');
    const std::string parent = usual.substr(0, slash);
    const std::string prefix = usual.substr(slash + 1) + "-";
    std::vector<std::string> found;
    DIR* listing = ::opendir(parent.empty() ? "/" : parent.c_str());
    if (!listing)
        return found;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        const std::string path = parent + "/" + name;
        if (name.size() == prefix.size() + 6 && name.starts_with(prefix) &&
            isPrivateDirectory(path))
            found.push_back(path);
    }
    ::closedir(listing);
    std::sort(found.begin(), found.end());
    return found;
}

// The usual directory, created with mode 0700; when another user made it
// first (or anyone may enter it), a private directory beside it, made by
// mkdtemp so that nobody can have made it before.
std::string ensurePrivateDirectory(const std::string& usual) {
    if (::mkdir(usual.c_str(), 0700) != 0 && errno != EEXIST)
        throw ControlError("cannot create the control socket directory " + usual + ": " +
                           std::strerror(errno));
    if (isPrivateDirectory(usual))
        return usual;
    if (const auto earlier = privateSiblings(usual); !earlier.empty())
        return earlier.front();
    std::string fresh = usual + "-XXXXXX";
    if (!::mkdtemp(fresh.data()))
        throw ControlError(usual +
                           " is not a private directory of this user, and no other "
                           "can be made beside it: " +
                           std::strerror(errno));
    return fresh;
}

} // namespace

std::string controlSocketDirectory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && isOwnDirectory(runtime))
        return std::string(runtime) + "/vaskor-sdk";
    // Only root may write in /run, so no other user can hold root's place there.
    if (::geteuid() == 0)
        return "/run/vaskor-sdk";
    return "/tmp/vaskor-sdk-" + std::to_string(::geteuid());
}

std::string newControlSocketPath() {
    const char* chosen = std::getenv(controlSocketSetting);
    if (chosen && chosen[0] != '\0')
        return chosen;
    static std::atomic<unsigned> coresInProcess{0};
    const std::string directory = ensurePrivateDirectory(controlSocketDirectory());
    return directory + "/core-" + std::to_string(::getpid()) + "-" +
           std::to_string(++coresInProcess) + ".sock";
}

std::vector<std::string> findLiveControlSockets() {
    const std::string usual = controlSocketDirectory();
    std::vector<std::string> directories = privateSiblings(usual);
    if (isPrivateDirectory(usual))
        directories.insert(directories.begin(), usual);
    std::vector<std::string> live;
    for (const auto& directory : directories) {
        DIR* listing = ::opendir(directory.c_str());
        if (!listing)
            continue;
        while (const dirent* entry = ::readdir(listing)) {
            const std::string name = entry->d_name;
            if (!name.ends_with(".sock"))
                continue;
            const std::string path = directory + "/" + name;
            // A core that does not take connections now is alive all the same.
            if (connectUnixSocketWithin(path, std::chrono::milliseconds(0)).valid() ||
                errno == ETIMEDOUT)
                live.push_back(path);
        }
        ::closedir(listing);
    }
    std::sort(live.begin(), live.end());
    return live;
}
