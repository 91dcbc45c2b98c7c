#pragma once

// The local control channel: stream sockets at a path in the file system,
// for the processes of one user.

#include "sdk/os/Handle.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

namespace sdk::os {

// A connected, blocking stream socket to path; invalid with error set on
// failure (filename_too_long for a path that does not fit an address).
OwnedHandle connectLocalSocket(const std::string& path, std::error_code& error);

// The same, but never waiting past timeout: a listener whose queue of
// connections is full (its process stopped accepting) is asked again until
// then, and the error is timed_out. The socket is non-blocking.
OwnedHandle connectLocalSocketWithin(const std::string& path, std::chrono::milliseconds timeout,
                                     std::error_code& error);

// A non-blocking socket listening on path with mode 0600. A socket file left
// by a process that is gone is replaced; one that a live process listens on
// is not. Invalid, with a text for a person in failure, when it cannot be had.
OwnedHandle listenLocalSocket(const std::string& path, std::string& failure);

// The same where nothing is at path yet, and never a replacement: invalid with
// an empty failure when anything (a live or a dead socket, any file) is there.
// The bind that creates the file decides, so two threads never both get a path.
OwnedHandle listenLocalSocketIfFree(const std::string& path, std::string& failure);

// The next waiting connection, non-blocking; invalid when none waits or
// none can be taken, with error set (too_many_files_open and the like when
// this process or the system is out of descriptors).
OwnedHandle acceptLocalSocket(Handle listener, std::error_code& error);

void setNonBlocking(Handle socket);

// Whether the process at the other end of a connected socket runs as this
// process's user (root is another user).
bool peerIsThisUser(Handle socket);

// What one read or write without waiting did.
struct Transfer {
    enum class Status { done, wouldBlock, ended };
    Status status = Status::done;
    std::size_t bytes = 0; // when done
};
// ended: the peer closed the connection, or it failed.
Transfer receiveSome(Handle socket, std::span<char> buffer);
// ended: the connection failed. Never raises a signal.
Transfer sendSome(Handle socket, std::string_view bytes);
// Reads nothing more; what is queued to send still goes.
void stopReading(Handle socket);

// Waits up to timeout for socket to be readable, or writable when writes.
void waitForSocket(Handle socket, bool writes, std::chrono::milliseconds timeout);

// The identity of the file at path, so that only our own is removed later.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;

    bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> fileIdentity(const std::string& path, std::error_code& error);
// Removes path when it is (without following a link) the file of identity.
void removeSocketFile(const std::string& path, const FileIdentity& identity);
void removeSocketFile(const std::string& path);

} // namespace sdk::os
