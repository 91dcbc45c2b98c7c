#pragma once

// Where control sockets live. Every core has its own socket, so several cores
// of one user (in one process, or in processes that share the file system
// from different network namespaces) never meet:
//   VASKOR_SDK_CONTROL_SOCKET   the full path, when set and not empty
//   otherwise                   <directory>/core-<pid>-<n>.sock, n counting the
//                               cores of this process from 1
// <directory> is $XDG_RUNTIME_DIR/vaskor-sdk when XDG_RUNTIME_DIR names a
// directory of this user, else /tmp/vaskor-sdk-<uid>; either is created with
// mode 0700 and refused when it belongs to someone else or others may enter it.

#include <string>
#include <vector>

inline constexpr const char* controlSocketSetting = "VASKOR_SDK_CONTROL_SOCKET";

// The directory, without creating it.
std::string controlSocketDirectory();

// Creates the directory (mode 0700) when missing. Throws ControlError when it
// is not a private directory of this user.
void prepareControlSocketDirectory();

// Removes the directory once no socket is left in it, so that nothing of the
// program stays behind in the user's runtime directory. A core that starts at
// that moment creates it again (ControlServer does).
void removeControlSocketDirectoryIfEmpty();

// The path for a new core's socket; creates the private directory when the
// path is in it. Throws ControlError when the directory is not private.
std::string newControlSocketPath();

// The sockets in the directory that a core is listening on, sorted.
std::vector<std::string> findLiveControlSockets();
