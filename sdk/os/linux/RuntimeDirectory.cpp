#include "sdk/os/RuntimeDirectory.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace sdk::os {

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

constexpr std::size_t uniqueSuffix = 6; // mkdtemp's XXXXXX

// Private directories made beside usual earlier: <usual>-XXXXXX, sorted.
std::vector<std::string> privateSiblings(const std::string& usual) {
    const auto slash = usual.rfind('/');
    const std::string parent = slash == std::string::npos ? "." : usual.substr(0, slash);
    std::vector<std::string> found;
    for (const std::string& name : directoryEntries(parent.empty() ? "/" : parent)) {
        const std::string path = parent + "/" + name;
        if (isPrivateDirectoryName(path, usual) && path != usual && isPrivateDirectory(path))
            found.push_back(path);
    }
    std::sort(found.begin(), found.end());
    return found;
}

} // namespace

std::string runtimeDirectory(const std::string& name) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && isOwnDirectory(runtime))
        return std::string(runtime) + "/" + name;
    if (::geteuid() == 0)
        return "/run/" + name;
    return "/tmp/" + name + "-" + std::to_string(::geteuid());
}

std::string privateDirectoryFor(const std::string& usual, std::string& failure) {
    if (::mkdir(usual.c_str(), 0700) != 0 && errno != EEXIST) {
        failure =
            "cannot create the control socket directory " + usual + ": " + std::strerror(errno);
        return {};
    }
    if (isPrivateDirectory(usual))
        return usual;
    if (const auto earlier = privateSiblings(usual); !earlier.empty())
        return earlier.front();
    std::string fresh = usual + "-XXXXXX";
    if (!::mkdtemp(fresh.data())) {
        failure = usual +
                  " is not a private directory of this user, and no other can be made beside "
                  "it: " +
                  std::strerror(errno);
        return {};
    }
    return fresh;
}

std::vector<std::string> privateDirectoriesFor(const std::string& usual) {
    std::vector<std::string> directories = privateSiblings(usual);
    if (isPrivateDirectory(usual))
        directories.insert(directories.begin(), usual);
    return directories;
}

bool isPrivateDirectoryName(const std::string& directory, const std::string& usual) {
    return directory == usual || (directory.size() == usual.size() + 1 + uniqueSuffix &&
                                  directory.starts_with(usual + "-"));
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
