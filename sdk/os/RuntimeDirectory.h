#pragma once

// This user's private directory for the control sockets.

#include <string>
#include <vector>

namespace sdk::os {

// The directory for name, not created: $XDG_RUNTIME_DIR/<name> when
// XDG_RUNTIME_DIR names a directory of this user, else /tmp/<name>-<uid>.
std::string runtimeDirectory(const std::string& name);

// Creates path with mode 0700 when it is missing. False, with a text for a
// person in failure, unless it is a real directory (no link) of this user
// that no one else may enter.
bool ensurePrivateDirectory(const std::string& path, std::string& failure);

// The names of the entries of directory; none when it cannot be read.
std::vector<std::string> directoryEntries(const std::string& directory);

// Removes path when it is an empty directory; otherwise leaves it.
void removeEmptyDirectory(const std::string& path);

} // namespace sdk::os
