#pragma once

#include "sdk/control/FileDescriptor.h"

#include <sys/types.h>

#include <chrono>
#include <string>

// A connected, blocking stream socket to path; invalid with errno set on
// failure (ENAMETOOLONG for a path that does not fit an address).
FileDescriptor connectUnixSocket(const std::string& path);

// The same, but never waiting past the time-out: a core whose queue of
// connections is full (it stopped accepting) is asked again until then, and
// the answer is ETIMEDOUT. The socket is non-blocking.
FileDescriptor connectUnixSocketWithin(const std::string& path, std::chrono::milliseconds timeout);

// A non-blocking socket listening on path with mode 0600. A socket file left
// by a core that is gone is replaced; one that a live core listens on is not.
// Throws ControlError.
FileDescriptor listenUnixSocket(const std::string& path);

void setNonBlocking(int fd);

// The user id of the process at the other end of a connected socket.
bool peerUserId(int fd, uid_t& uid);
