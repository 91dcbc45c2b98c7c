#pragma once

// This user's private directory for the control sockets.

#include <string>
#include <vector>

namespace sdk::os {

// The directory for name, not created: $XDG_RUNTIME_DIR/<name> when
// XDG_RUNTIME_DIR names a directory of this user, else /run/<name> for root
// (only root may write in /run, so no other user can hold its place there),
// else /tmp/<name>-<uid>.
std::string runtimeDirectory(const std::string& name);

// The private directory to use in place of usual: usual itself, created with
// mode 0700 when missing, when it is a real directory (no link) of this user
// that no one else may enter; otherwise (another user made it first, or
// others may enter it) one made beside it earlier, <usual>-XXXXXX, or else a
// fresh one made by mkdtemp, so that nobody can have made it before. Empty,
// with a text for a person in failure, when none can be had.
std::string privateDirectoryFor(const std::string& usual, std::string& failure);

// Those of privateDirectoryFor that exist now: usual when it is private,
// then the private ones beside it, sorted. None is created.
std::vector<std::string> privateDirectoriesFor(const std::string& usual);

// Whether directory is usual or could be one made beside it.
bool isPrivateDirectoryName(const std::string& directory, const std::string& usual);

// The names of the entries of directory; none when it cannot be read.
std::vector<std::string> directoryEntries(const std::string& directory);

// Removes path when it is an empty directory; otherwise leaves it.
void removeEmptyDirectory(const std::string& path);

} // namespace sdk::os
