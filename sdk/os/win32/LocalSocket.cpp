#include "sdk/os/LocalSocket.h"

#include "sdk/os/win32/Pipe.h"
#include "sdk/os/win32/Security.h"
#include "sdk/os/win32/Text.h"

#include <windows.h>

#include <memory>
#include <thread>

namespace sdk::os {

using win32::PipeEnd;

namespace {

constexpr DWORD pipeBuffer = 64 * 1024;

std::error_code lastError() {
    return win32::genericError(GetLastError());
}

std::string failureOf(const std::string& what, const std::string& path, DWORD code) {
    return "cannot " + what + " the control channel " + path + ": " + win32::errorText(code);
}

bool markerExists(const std::string& path) {
    return GetFileAttributesW(win32::wideOf(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A client end, checked: the pipe must be this user's, or another user made
// a pipe of that name first to listen in.
OwnedHandle openClientEnd(const std::string& path, std::error_code& error) {
    const std::wstring name = win32::pipeNameOf(path);
    // Identification only: the core may learn who we are, never act as us.
    HANDLE pipe = CreateFileW(
        name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
        FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        // A marker without a pipe: the core is gone and left it behind.
        if (code == ERROR_FILE_NOT_FOUND && markerExists(path))
            error = std::make_error_code(std::errc::connection_refused);
        else
            error = win32::genericError(code);
        return {};
    }
    if (!win32::handleOwnedByThisUser(pipe)) {
        CloseHandle(pipe);
        error = std::make_error_code(std::errc::permission_denied);
        return {};
    }
    auto end = std::make_unique<PipeEnd>();
    end->pipe = pipe;
    if (!end->ownEvent) {
        error = lastError();
        return {};
    }
    error = {};
    return OwnedHandle(win32::handleOf(end.release()));
}

bool validPath(const std::string& path) {
    return !path.empty() && path.find('\0') == std::string::npos;
}

// The next instance of the listener's pipe, waiting for a client.
bool listenAgain(PipeEnd& end, bool first, DWORD& code) {
    win32::PrivateAttributes attributes(false);
    if (!attributes.get()) {
        code = ERROR_ACCESS_DENIED;
        return false;
    }
    const DWORD openMode =
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    HANDLE pipe =
        CreateNamedPipeW(end.name.c_str(), openMode,
                         PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_REJECT_REMOTE_CLIENTS,
                         PIPE_UNLIMITED_INSTANCES, pipeBuffer, pipeBuffer, 0, attributes.get());
    if (pipe == INVALID_HANDLE_VALUE) {
        code = GetLastError();
        return false;
    }
    end.pipe = pipe;
    if (!end.awaitClient(code)) {
        CloseHandle(pipe);
        end.pipe = INVALID_HANDLE_VALUE;
        return false;
    }
    return true;
}

// The first instance of the pipe at path; the marker file exists already.
OwnedHandle listenAt(const std::string& path, std::string& failure) {
    auto end = std::make_unique<PipeEnd>();
    end->listener = true;
    end->name = win32::pipeNameOf(path);
    DWORD code = 0;
    if (!end->ownEvent || !listenAgain(*end, true, code)) {
        if (code == ERROR_ACCESS_DENIED || code == ERROR_PIPE_BUSY)
            failure = "another process already listens on the control channel " + path;
        else
            failure = failureOf("listen on", path, code ? code : GetLastError());
        return {};
    }
    return OwnedHandle(win32::handleOf(end.release()));
}

// The marker file: empty, this user's alone. CREATE_NEW makes the creation
// the decision between two cores that want the same path.
bool makeMarker(const std::string& path, DWORD disposition, DWORD& code) {
    win32::PrivateAttributes attributes(false);
    HANDLE file = CreateFileW(win32::wideOf(path).c_str(), GENERIC_WRITE, 0, attributes.get(),
                              disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        code = GetLastError();
        return false;
    }
    CloseHandle(file);
    return true;
}

bool isEmptyFile(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    return GetFileAttributesExW(win32::wideOf(path).c_str(), GetFileExInfoStandard, &data) &&
           (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
               0 &&
           data.nFileSizeLow == 0 && data.nFileSizeHigh == 0;
}

} // namespace

OwnedHandle connectLocalSocket(const std::string& path, std::error_code& error) {
    if (!validPath(path)) {
        error = std::make_error_code(std::errc::filename_too_long);
        return {};
    }
    for (;;) {
        OwnedHandle end = openClientEnd(path, error);
        if (end.valid() || error != std::errc::resource_unavailable_try_again)
            return end;
        // Every instance is taken: the core makes the next one when it accepts.
        WaitNamedPipeW(win32::pipeNameOf(path).c_str(), 1000);
    }
}

OwnedHandle connectLocalSocketWithin(const std::string& path, std::chrono::milliseconds timeout,
                                     std::error_code& error) {
    if (!validPath(path)) {
        error = std::make_error_code(std::errc::filename_too_long);
        return {};
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        OwnedHandle end = openClientEnd(path, error);
        if (end.valid() || error != std::errc::resource_unavailable_try_again)
            return end;
        if (std::chrono::steady_clock::now() >= deadline) {
            error = std::make_error_code(std::errc::timed_out);
            return {};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

OwnedHandle listenLocalSocket(const std::string& path, std::string& failure) {
    if (!validPath(path)) {
        failure = "the control channel path is not usable: " + path;
        return {};
    }
    DWORD code = 0;
    if (!makeMarker(path, CREATE_NEW, code)) {
        if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
            failure = failureOf("create", path, code);
            return {};
        }
        std::error_code ignored;
        if (openClientEnd(path, ignored).valid()) {
            failure = "another game SDK core already listens on the control channel " + path;
            return {};
        }
        if (!isEmptyFile(path)) {
            failure = "cannot use " + path +
                      " as the control channel: a file that is not "
                      "one is in the way";
            return {};
        }
        if (!makeMarker(path, CREATE_ALWAYS, code)) {
            failure = failureOf("create", path, code);
            return {};
        }
    }
    OwnedHandle listener = listenAt(path, failure);
    if (!listener.valid())
        DeleteFileW(win32::wideOf(path).c_str());
    return listener;
}

OwnedHandle listenLocalSocketIfFree(const std::string& path, std::string& failure) {
    failure.clear();
    if (!validPath(path)) {
        failure = "the control channel path is not usable: " + path;
        return {};
    }
    DWORD code = 0;
    if (!makeMarker(path, CREATE_NEW, code)) {
        if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS)
            failure = failureOf("create", path, code);
        return {};
    }
    OwnedHandle listener = listenAt(path, failure);
    if (!listener.valid())
        DeleteFileW(win32::wideOf(path).c_str());
    return listener;
}

OwnedHandle acceptLocalSocket(Handle listener, std::error_code& error) {
    PipeEnd* end = win32::pipeEndOf(listener);
    if (!end || !end->listener) {
        error = std::make_error_code(std::errc::invalid_argument);
        return {};
    }
    if (end->pipe == INVALID_HANDLE_VALUE) {
        // The last attempt to make an instance failed: try again now.
        DWORD code = 0;
        if (!listenAgain(*end, false, code)) {
            error = win32::genericError(code);
            return {};
        }
    }
    if (end->connectPending) {
        DWORD ignored = 0;
        if (GetOverlappedResult(end->pipe, &end->connecting, &ignored, FALSE)) {
            end->clientWaiting = true;
        } else if (GetLastError() == ERROR_IO_INCOMPLETE) {
            error = std::make_error_code(std::errc::resource_unavailable_try_again);
            return {};
        } else {
            end->clientWaiting = true; // the client left: its end reads as ended
        }
        end->connectPending = false;
    }
    if (!end->clientWaiting) {
        error = std::make_error_code(std::errc::resource_unavailable_try_again);
        return {};
    }
    auto connection = std::make_unique<PipeEnd>();
    if (!connection->ownEvent) {
        error = lastError();
        return {};
    }
    connection->pipe = end->pipe;
    end->pipe = INVALID_HANDLE_VALUE;
    end->clientWaiting = false;
    DWORD code = 0;
    if (!listenAgain(*end, false, code))
        end->pipe = INVALID_HANDLE_VALUE; // the next accept tries again
    error = {};
    return OwnedHandle(win32::handleOf(connection.release()));
}

void setNonBlocking(Handle) {
    // Every pipe end works without waiting already.
}

bool peerIsThisUser(Handle socket) {
    PipeEnd* end = win32::pipeEndOf(socket);
    ULONG client = 0;
    if (!end || end->listener || !GetNamedPipeClientProcessId(end->pipe, &client))
        return false;
    // Wine answers 0 for every client; its pipes are the system user's alone
    // (one wine server per user), and the pipe's list lets in this user only.
    if (client == 0)
        return true;
    const auto peer = win32::processUserSid(client);
    return !peer.empty() && peer == win32::currentUserSid();
}

} // namespace sdk::os
