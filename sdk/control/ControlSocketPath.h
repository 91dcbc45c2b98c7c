#pragma once

// Where control sockets live. Every core has its own socket, so several cores
// of one user (in one process, or in processes that share the file system
// from different network namespaces) never meet:
//   VASKOR_SDK_CONTROL_SOCKET   the full path, when set and not empty
//   otherwise                   <directory>/core-<pid>-<n>.sock, with the first
//                               free n counting from 1
// <directory> is $XDG_RUNTIME_DIR/vaskor-sdk when XDG_RUNTIME_DIR names a
// directory of this user, else /run/vaskor-sdk for root, else
// /tmp/vaskor-sdk-<uid>; created with mode 0700. When it exists but belongs
// to someone else or others may enter it, a private <directory>-XXXXXX beside
// it (mkdtemp) takes its place, and the command line looks there too.

#include <memory>
#include <string>
#include <vector>

class ControlServer;

inline constexpr const char* controlSocketSetting = "VASKOR_SDK_CONTROL_SOCKET";

// The usual directory, without creating it.
std::string controlSocketDirectory();

// The private directory the numbered sockets go in: the usual one, created
// with mode 0700 when missing, or one beside it (see the top). Throws
// ControlError when none can be had.
std::string prepareControlSocketDirectory();

// Whether socketPath lies in the usual directory or a private one beside it,
// not at a path the setting named.
bool isInControlSocketDirectory(const std::string& socketPath);

// Removes socketPath's directory once no socket is left in it, so that
// nothing of the program stays behind in the user's runtime directory; only
// for a path in the control socket directory. A core that starts at that
// moment creates it again (listenForNewCore does).
void removeControlSocketDirectoryIfEmpty(const std::string& socketPath);

// The server of a new core, on the setting's path or on a numbered one in the
// private directory, which it creates. Every mapped copy of the SDK library
// counts its cores from 1 on its own, so a number whose path is taken (by a
// core of another copy, or a file left behind) is skipped; the bind decides,
// so two copies never share one. Throws ControlError when the directory is
// not private or no socket can be had.
std::unique_ptr<ControlServer> listenForNewCore();

// The sockets that a core is listening on in the usual directory and the
// private ones beside it, sorted.
std::vector<std::string> findLiveControlSockets();
