#include "sdk/os/RuntimeDirectory.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace sdk::os {

namespace {

bool isOwnDirectory(const char* path) {
    struct stat info {};
    return ::stat(path, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid();
}

} // namespace

std::string runtimeDirectory(const std::string& name) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && isOwnDirectory(runtime))
        return std::string(runtime) + "/" + name;
    return "/tmp/" + name + "-" + std::to_string(::geteuid());
}

// The directory exists, is a real directory (no link) of this user, and no
// one else may enter it.
bool ensurePrivateDirectory(const std::string& path, std::string& failure) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        failure =
            "cannot create the control socket directory " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        failure = "cannot inspect " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 077) != 0) {
        failure = "the control socket directory " + path +
                  " is not a private directory of this user (mode 0700); remove it";
        return false;
    }
    return true;
}

std::vector<std::string> directoryEntries(const std::string& directory) {
    std::vector<std::string> names;
    DIR* listing = ::opendir(directory.c_str());
    if (!listing)
        return names;
    while (const dirent* entry = ::readdir(listing))
        names.emplace_back(entry->d_name);
    ::closedir(listing);
    return names;
}

void removeEmptyDirectory(const std::string& path) {
    ::rmdir(path.c_str());
}

} // namespace sdk::os
