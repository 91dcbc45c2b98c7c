#include "sdk/os/LocalSocket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace sdk::os {

namespace {

int fdOf(Handle handle) {
    return static_cast<int>(handle);
}

bool fillAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path) || path.find('\0') != path.npos)
        return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

std::string failureOf(const std::string& what, const std::string& path) {
    return "cannot " + what + " the control socket " + path + ": " + std::strerror(errno);
}

std::error_code lastError() {
    return {errno, std::generic_category()};
}

} // namespace

OwnedHandle connectLocalSocket(const std::string& path, std::error_code& error) {
    sockaddr_un address;
    if (!fillAddress(path, address)) {
        error = std::make_error_code(std::errc::filename_too_long);
        return {};
    }
    OwnedHandle socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket.valid()) {
        error = lastError();
        return {};
    }
    if (::connect(fdOf(socket.get()), reinterpret_cast<const sockaddr*>(&address),
                  sizeof address) != 0) {
        error = lastError();
        return {};
    }
    error = {};
    return socket;
}

OwnedHandle connectLocalSocketWithin(const std::string& path, std::chrono::milliseconds timeout,
                                     std::error_code& error) {
    sockaddr_un address;
    if (!fillAddress(path, address)) {
        error = std::make_error_code(std::errc::filename_too_long);
        return {};
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        OwnedHandle socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (!socket.valid()) {
            error = lastError();
            return {};
        }
        if (::connect(fdOf(socket.get()), reinterpret_cast<const sockaddr*>(&address),
                      sizeof address) == 0) {
            error = {};
            return socket;
        }
        // A full queue of a local socket answers EAGAIN at once; nothing
        // announces when it has room, so ask again a little later.
        if (errno != EAGAIN) {
            error = lastError();
            return {};
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            error = std::make_error_code(std::errc::timed_out);
            return {};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

namespace {

// A non-blocking socket not bound yet, with the mode its file takes at bind:
// it is never open to others, not even for a moment.
OwnedHandle unboundSocket(const std::string& path, sockaddr_un& address, std::string& failure) {
    if (!fillAddress(path, address)) {
        failure = "the control socket path is too long for a socket (at most " +
                  std::to_string(sizeof(address.sun_path) - 1) + " bytes): " + path;
        return {};
    }
    OwnedHandle socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket.valid()) {
        failure = failureOf("create", path);
        return {};
    }
    ::fchmod(fdOf(socket.get()), 0600);
    return socket;
}

bool bindTo(const OwnedHandle& socket, const sockaddr_un& address) {
    return ::bind(fdOf(socket.get()), reinterpret_cast<const sockaddr*>(&address),
                  sizeof address) == 0;
}

// The chmod only confirms the mode the file took at bind.
OwnedHandle startListening(OwnedHandle socket, const std::string& path, std::string& failure) {
    if (::chmod(path.c_str(), 0600) != 0 || ::listen(fdOf(socket.get()), 16) != 0) {
        failure = failureOf("listen on", path);
        ::unlink(path.c_str());
        return {};
    }
    return socket;
}

} // namespace

OwnedHandle listenLocalSocket(const std::string& path, std::string& failure) {
    sockaddr_un address;
    OwnedHandle socket = unboundSocket(path, address, failure);
    if (!socket.valid())
        return {};
    if (!bindTo(socket, address)) {
        if (errno != EADDRINUSE) {
            failure = failureOf("bind", path);
            return {};
        }
        struct stat info {};
        std::error_code ignored;
        if (connectLocalSocket(path, ignored).valid()) {
            failure = "another game SDK core already listens on the control socket " + path;
            return {};
        }
        if (::lstat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) {
            failure = "cannot use " + path +
                      " as the control socket: a file that is not "
                      "a socket is in the way";
            return {};
        }
        ::unlink(path.c_str());
        if (!bindTo(socket, address)) {
            failure = failureOf("bind", path);
            return {};
        }
    }
    return startListening(std::move(socket), path, failure);
}

OwnedHandle listenLocalSocketIfFree(const std::string& path, std::string& failure) {
    failure.clear();
    sockaddr_un address;
    OwnedHandle socket = unboundSocket(path, address, failure);
    if (!socket.valid())
        return {};
    if (!bindTo(socket, address)) {
        if (errno != EADDRINUSE)
            failure = failureOf("bind", path);
        return {};
    }
    return startListening(std::move(socket), path, failure);
}

OwnedHandle acceptLocalSocket(Handle listener, std::error_code& error) {
    OwnedHandle socket(::accept4(fdOf(listener), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    error = socket.valid() ? std::error_code() : lastError();
    return socket;
}

void setNonBlocking(Handle socket) {
    const int flags = ::fcntl(fdOf(socket), F_GETFL);
    ::fcntl(fdOf(socket), F_SETFL, flags | O_NONBLOCK);
}

bool peerIsThisUser(Handle socket) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fdOf(socket), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return false;
    return credentials.uid == ::geteuid();
}

} // namespace sdk::os
