#include "sdk/os/LocalSocket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace sdk::os {

namespace {

int fdOf(Handle handle) {
    return static_cast<int>(handle);
}

bool isTransient(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

} // namespace

Transfer receiveSome(Handle socket, std::span<char> buffer) {
    const ssize_t got = ::recv(fdOf(socket), buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (got < 0 && isTransient(errno))
        return {Transfer::Status::wouldBlock};
    if (got <= 0)
        return {Transfer::Status::ended};
    return {Transfer::Status::done, static_cast<std::size_t>(got)};
}

Transfer sendSome(Handle socket, std::string_view bytes) {
    const ssize_t sent =
        ::send(fdOf(socket), bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0 && isTransient(errno))
        return {Transfer::Status::wouldBlock};
    if (sent < 0)
        return {Transfer::Status::ended};
    return {Transfer::Status::done, static_cast<std::size_t>(sent)};
}

void stopReading(Handle socket) {
    ::shutdown(fdOf(socket), SHUT_RD);
}

void waitForSocket(Handle socket, bool writes, std::chrono::milliseconds timeout) {
    pollfd waiting{fdOf(socket), static_cast<short>(POLLIN | (writes ? POLLOUT : 0)), 0};
    ::poll(&waiting, 1, static_cast<int>(timeout.count()));
}

std::optional<FileIdentity> fileIdentity(const std::string& path, std::error_code& error) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        error = std::error_code(errno, std::generic_category());
        return std::nullopt;
    }
    return FileIdentity{info.st_dev, info.st_ino};
}

void removeSocketFile(const std::string& path, const FileIdentity& identity) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && info.st_dev == identity.device &&
        info.st_ino == identity.inode)
        ::unlink(path.c_str());
}

void removeSocketFile(const std::string& path) {
    ::unlink(path.c_str());
}

} // namespace sdk::os
