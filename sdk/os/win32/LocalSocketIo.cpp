#include "sdk/os/LocalSocket.h"

#include "sdk/os/win32/Pipe.h"
#include "sdk/os/win32/Text.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace sdk::os {

using win32::PipeEnd;

namespace {
// What one write takes at most; the rest waits for the next.
constexpr std::size_t writeChunk = 64 * 1024;
} // namespace

Transfer receiveSome(Handle socket, std::span<char> buffer) {
    PipeEnd* end = win32::pipeEndOf(socket);
    if (!end || end->listener || end->stoppedReading)
        return {Transfer::Status::ended};
    for (;;) {
        if (end->readStart < end->readEnd) {
            const std::size_t size = std::min(buffer.size(), end->readEnd - end->readStart);
            std::memcpy(buffer.data(), end->readBuffer.data() + end->readStart, size);
            end->readStart += size;
            end->startRead();
            return {Transfer::Status::done, size};
        }
        if (end->ended)
            return {Transfer::Status::ended};
        if (!end->readPending) {
            end->startRead();
            continue;
        }
        if (!end->readSettled())
            return {Transfer::Status::wouldBlock};
        if (end->readStart == end->readEnd && !end->ended)
            end->startRead(); // an empty write of the peer's
        if (end->readPending && end->readStart == end->readEnd)
            return {Transfer::Status::wouldBlock};
    }
}

Transfer sendSome(Handle socket, std::string_view bytes) {
    PipeEnd* end = win32::pipeEndOf(socket);
    if (!end || end->listener)
        return {Transfer::Status::ended};
    if (!end->writable())
        return {Transfer::Status::wouldBlock};
    if (end->broken)
        return {Transfer::Status::ended};
    if (bytes.empty())
        return {Transfer::Status::done, 0};
    // The bytes are ours once copied, as a socket's are once in its buffer.
    end->written.assign(bytes.substr(0, writeChunk));
    end->writing = OVERLAPPED{};
    end->writing.hEvent = end->signal();
    if (!WriteFile(end->pipe, end->written.data(), static_cast<DWORD>(end->written.size()), nullptr,
                   &end->writing) &&
        GetLastError() != ERROR_IO_PENDING) {
        end->broken = true;
        return {Transfer::Status::ended};
    }
    end->writePending = true;
    SetEvent(end->signal());
    return {Transfer::Status::done, end->written.size()};
}

void stopReading(Handle socket) {
    PipeEnd* end = win32::pipeEndOf(socket);
    if (!end || end->stoppedReading)
        return;
    end->stoppedReading = true;
    if (end->readPending) {
        CancelIoEx(end->pipe, &end->reading);
        DWORD ignored = 0;
        GetOverlappedResult(end->pipe, &end->reading, &ignored, TRUE);
        end->readPending = false;
    }
    end->readStart = end->readEnd = 0;
}

void waitForSocket(Handle socket, bool writes, std::chrono::milliseconds timeout) {
    PipeEnd* end = win32::pipeEndOf(socket);
    if (!end)
        return;
    ResetEvent(end->signal());
    end->startRead();
    ResetEvent(end->signal()); // startRead's own signal is not news
    if (end->readable() || (writes && end->writable()))
        return;
    WaitForSingleObject(end->signal(), static_cast<DWORD>(std::max<long long>(timeout.count(), 0)));
}

std::optional<FileIdentity> fileIdentity(const std::string& path, std::error_code& error) {
    HANDLE file = CreateFileW(win32::wideOf(path).c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = win32::genericError(GetLastError());
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    const bool known = GetFileInformationByHandle(file, &information);
    const DWORD code = GetLastError();
    CloseHandle(file);
    if (!known) {
        error = win32::genericError(code);
        return std::nullopt;
    }
    return FileIdentity{information.dwVolumeSerialNumber,
                        (std::uint64_t{information.nFileIndexHigh} << 32) |
                            information.nFileIndexLow};
}

void removeSocketFile(const std::string& path, const FileIdentity& identity) {
    // Opened without following a link, compared and deleted through the one
    // handle: nothing can be swapped in between.
    HANDLE file = CreateFileW(win32::wideOf(path).c_str(), DELETE | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileInformationByHandle(file, &information) &&
        information.dwVolumeSerialNumber == identity.device &&
        ((std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow) ==
            identity.inode) {
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
    }
    CloseHandle(file);
}

void removeSocketFile(const std::string& path) {
    DeleteFileW(win32::wideOf(path).c_str());
}

} // namespace sdk::os
