#include "sdk/control/UnixSocket.h"

#include "sdk/control/ControlError.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

bool fillAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path) || path.find('\0') != path.npos)
        return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

std::string failure(const std::string& what, const std::string& path) {
    return "cannot " + what + " the control socket " + path + ": " + std::strerror(errno);
}

} // namespace

FileDescriptor connectUnixSocket(const std::string& path) {
    sockaddr_un address;
    if (!fillAddress(path, address)) {
        errno = ENAMETOOLONG;
        return {};
    }
    FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket.valid())
        return {};
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        socket.reset();
        errno = error;
        return {};
    }
    return socket;
}

FileDescriptor connectUnixSocketWithin(const std::string& path, std::chrono::milliseconds timeout) {
    sockaddr_un address;
    if (!fillAddress(path, address)) {
        errno = ENAMETOOLONG;
        return {};
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (!socket.valid())
            return {};
        if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) ==
            0)
            return socket;
        const int error = errno;
        if (error != EAGAIN) {
            errno = error;
            return {};
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            errno = ETIMEDOUT;
            return {};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

FileDescriptor listenUnixSocket(const std::string& path) {
    sockaddr_un address;
    if (!fillAddress(path, address))
        throw ControlError("the control socket path is too long for a socket (at most " +
                           std::to_string(sizeof(address.sun_path) - 1) + " bytes): " + path);
    FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket.valid())
        throw ControlError(failure("create", path));
    // The socket file takes this mode at bind, so it is never open to others,
    // not even for a moment (the chmod below only confirms it).
    ::fchmod(socket.get(), 0600);
    const auto bindTo = [&] {
        return ::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    };
    if (bindTo() != 0) {
        if (errno != EADDRINUSE)
            throw ControlError(failure("bind", path));
        struct stat info {};
        if (connectUnixSocket(path).valid())
            throw ControlError("another game SDK core already listens on the control socket " +
                               path);
        if (::lstat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode))
            throw ControlError("cannot use " + path +
                               " as the control socket: a file that is not "
                               "a socket is in the way");
        ::unlink(path.c_str());
        if (bindTo() != 0)
            throw ControlError(failure("bind", path));
    }
    if (::chmod(path.c_str(), 0600) != 0 || ::listen(socket.get(), 16) != 0) {
        const std::string message = failure("listen on", path);
        ::unlink(path.c_str());
        throw ControlError(message);
    }
    return socket;
}

void setNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

bool peerUserId(int fd, uid_t& uid) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return false;
    uid = credentials.uid;
    return true;
}
