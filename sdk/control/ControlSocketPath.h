#pragma once

// Where control sockets live. Every core has its own socket, so several cores
// of one user (in one process, or in processes that share the file system
// from different network namespaces) never meet:
//   VASKOR_SDK_CONTROL_SOCKET   the full path, when set and not empty
//   otherwise                   <directory>/core-<pid>-<n>.sock, with the first
//                               free n counting from 1
// <directory> is $XDG_RUNTIME_DIR/vaskor-sdk when XDG_RUNTIME_DIR names a
// directory of this user, else /tmp/vaskor-sdk-<uid>; either is created with
// mode 0700 and refused when it belongs to someone else or others may enter it.

#include <memory>
#include <string>
#include <vector>

class ControlServer;

inline constexpr const char* controlSocketSetting = "VASKOR_SDK_CONTROL_SOCKET";

// The directory, without creating it.
std::string controlSocketDirectory();

// Creates the directory (mode 0700) when missing. Throws ControlError when it
// is not a private directory of this user.
void prepareControlSocketDirectory();

// Removes the directory once no socket is left in it, so that nothing of the
// program stays behind in the user's runtime directory. A core that starts at
// that moment creates it again (listenForNewCore does).
void removeControlSocketDirectoryIfEmpty();

// The server of a new core, on the setting's path or on a numbered one in the
// private directory, which it creates. Every mapped copy of the SDK library
// counts its cores from 1 on its own, so a number whose path is taken (by a
// core of another copy, or a file left behind) is skipped; the bind decides,
// so two copies never share one. Throws ControlError when the directory is
// not private or no socket can be had.
std::unique_ptr<ControlServer> listenForNewCore();

// The sockets in the directory that a core is listening on, sorted.
std::vector<std::string> findLiveControlSockets();
