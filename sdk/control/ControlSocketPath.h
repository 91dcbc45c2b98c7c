#pragma once

// Where control sockets live. Every core has its own socket, so several cores
// of one user (in one process, or in processes that share the file system
// from different network namespaces) never meet:
//   VASKOR_SDK_CONTROL_SOCKET   the full path, when set and not empty
//   otherwise                   <directory>/core-<pid>-<n>.sock, n counting the
//                               cores of this process from 1
// <directory> is $XDG_RUNTIME_DIR/vaskor-sdk when XDG_RUNTIME_DIR names a
// directory of this user, else /run/vaskor-sdk for root, else
// /tmp/vaskor-sdk-<uid>; created with mode 0700. When it exists but belongs
// to someone else or others may enter it, a private <directory>-XXXXXX beside
// it (mkdtemp) takes its place, and the command line looks there too.

#include <string>
#include <vector>

inline constexpr const char* controlSocketSetting = "VASKOR_SDK_CONTROL_SOCKET";

// The usual directory, without creating it.
std::string controlSocketDirectory();

// The path for a new core's socket; creates the private directory when the
// path is in it. Throws ControlError when the directory is not private.
std::string newControlSocketPath();

// The sockets that a core is listening on in the usual directory and the
// private ones beside it, sorted.
std::vector<std::string> findLiveControlSockets();
