#include "sdk/os/RuntimeDirectory.h"

#include "sdk/os/win32/Security.h"
#include "sdk/os/win32/Text.h"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <random>

namespace sdk::os {

namespace {

std::optional<std::string> environmentFolder(const wchar_t* name) {
    wchar_t value[32768] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, sizeof value / sizeof value[0]);
    if (length == 0 || length >= sizeof value / sizeof value[0])
        return std::nullopt;
    return win32::withForwardSlashes(win32::utf8Of(value, length));
}

// A real folder (no link) that this user owns and no one else may enter.
bool isPrivateDirectory(const std::string& path) {
    const std::wstring wide = win32::wideOf(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) && win32::pathOwnedByThisUserAlone(wide);
}

constexpr std::size_t uniqueSuffix = 6;

std::vector<std::string> privateSiblings(const std::string& usual) {
    const auto slash = usual.rfind('/');
    const std::string parent = slash == std::string::npos ? "." : usual.substr(0, slash);
    std::vector<std::string> found;
    for (const std::string& name : directoryEntries(parent)) {
        const std::string path = parent + "/" + name;
        if (isPrivateDirectoryName(path, usual) && path != usual && isPrivateDirectory(path))
            found.push_back(path);
    }
    std::sort(found.begin(), found.end());
    return found;
}

// CreateDirectory decides: a name someone else took first is never ours.
std::string freshSibling(const std::string& usual, std::string& failure) {
    static constexpr char letters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    std::uniform_int_distribution<std::size_t> pick(0, sizeof letters - 2);
    win32::PrivateAttributes attributes(true);
    DWORD error = ERROR_ACCESS_DENIED;
    for (int attempt = 0; attempt < 100 && attributes.get(); ++attempt) {
        std::string fresh = usual + "-";
        for (std::size_t i = 0; i < uniqueSuffix; ++i)
            fresh += letters[pick(random)];
        if (CreateDirectoryW(win32::wideOf(fresh).c_str(), attributes.get()))
            return fresh;
        error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS)
            break;
    }
    failure = usual +
              " is not a private folder of this user, and no other can be made beside it: " +
              win32::errorText(error);
    return {};
}

} // namespace

// The user's local application data, else the temporary folder (both the
// user's own on Windows).
std::string runtimeDirectory(const std::string& name) {
    if (const auto local = environmentFolder(L"LOCALAPPDATA"))
        return *local + "/" + name;
    wchar_t temporary[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, temporary);
    std::string base = win32::withForwardSlashes(win32::utf8Of(temporary, length));
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    return base + "/" + name;
}

std::string privateDirectoryFor(const std::string& usual, std::string& failure) {
    win32::PrivateAttributes attributes(true);
    if (!attributes.get()) {
        failure = "cannot tell who this user is, to make the control folder " + usual;
        return {};
    }
    if (!CreateDirectoryW(win32::wideOf(usual).c_str(), attributes.get()) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
        failure =
            "cannot create the control folder " + usual + ": " + win32::errorText(GetLastError());
        return {};
    }
    if (isPrivateDirectory(usual))
        return usual;
    if (const auto earlier = privateSiblings(usual); !earlier.empty())
        return earlier.front();
    return freshSibling(usual, failure);
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
    WIN32_FIND_DATAW entry{};
    HANDLE listing = FindFirstFileW(win32::wideOf(directory + "/*").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(win32::utf8Of(entry.cFileName));
    while (FindNextFileW(listing, &entry));
    FindClose(listing);
    return names;
}

void removeEmptyDirectory(const std::string& path) {
    RemoveDirectoryW(win32::wideOf(path).c_str());
}

} // namespace sdk::os
