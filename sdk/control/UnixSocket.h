#pragma once

#include "sdk/control/FileDescriptor.h"

#include <sys/types.h>

#include <string>

// A connected, blocking stream socket to path; invalid with errno set on
// failure (ENAMETOOLONG for a path that does not fit an address).
FileDescriptor connectUnixSocket(const std::string& path);

// A non-blocking socket listening on path with mode 0600. A socket file left
// by a core that is gone is replaced; one that a live core listens on is not.
// Throws ControlError.
FileDescriptor listenUnixSocket(const std::string& path);

// The same where nothing is at path yet, and never a replacement: invalid
// when anything (a live or a dead socket, any file) is there. The bind that
// creates the file decides, so two threads can never both have one path.
// Throws ControlError for any other failure.
FileDescriptor listenUnixSocketIfFree(const std::string& path);

void setNonBlocking(int fd);

// The user id of the process at the other end of a connected socket.
bool peerUserId(int fd, uid_t& uid);
