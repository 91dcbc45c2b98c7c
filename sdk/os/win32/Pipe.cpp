#include "sdk/os/win32/Pipe.h"

#include "sdk/os/win32/Text.h"

#include <algorithm>
#include <cstdint>

namespace sdk::os::win32 {

namespace {

// A write in flight when the end is closed may still go for this long, so
// that a last answer (a refusal) reaches a peer that reads.
constexpr DWORD lastWriteWait = 200;

void settle(HANDLE pipe, OVERLAPPED& operation) {
    DWORD ignored = 0;
    GetOverlappedResult(pipe, &operation, &ignored, TRUE);
}

} // namespace

PipeEnd::PipeEnd() : ownEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

PipeEnd::~PipeEnd() {
    if (watchedBy)
        std::erase_if(*watchedBy,
                      [this](const auto& entry) { return pipeEndOf(entry.first) == this; });
    // The write's event may belong to a watch already gone: look at the
    // operation itself.
    for (DWORD waited = 0;
         writePending && !HasOverlappedIoCompleted(&writing) && waited < lastWriteWait; ++waited)
        Sleep(1);
    cancelAll();
    if (pipe != INVALID_HANDLE_VALUE)
        CloseHandle(pipe);
    if (ownEvent)
        CloseHandle(ownEvent);
}

void PipeEnd::cancelAll() {
    if (pipe == INVALID_HANDLE_VALUE)
        return;
    if (connectPending || readPending || writePending)
        CancelIoEx(pipe, nullptr);
    if (connectPending) {
        settle(pipe, connecting);
        connectPending = false;
    }
    if (readPending) {
        // A read that finished before the cancel keeps its bytes.
        DWORD got = 0;
        if (GetOverlappedResult(pipe, &reading, &got, TRUE) && got > 0) {
            readStart = 0;
            readEnd = got;
        }
        readPending = false;
    }
    if (writePending) {
        settle(pipe, writing);
        writePending = false;
    }
}

void PipeEnd::reportTo(HANDLE event) {
    watchEvent = event;
    if (listener && connectPending) {
        // The wait for a client starts again with the new event.
        CancelIoEx(pipe, &connecting);
        DWORD ignored = 0;
        connectPending = false;
        if (GetOverlappedResult(pipe, &connecting, &ignored, TRUE))
            clientWaiting = true;
        else if (DWORD code = 0; !awaitClient(code))
            clientWaiting = code == ERROR_PIPE_CONNECTED || code == ERROR_NO_DATA;
    }
    if (readPending) {
        CancelIoEx(pipe, &reading);
        DWORD got = 0;
        if (GetOverlappedResult(pipe, &reading, &got, TRUE) && got > 0) {
            readStart = 0;
            readEnd = got;
        }
        readPending = false;
    }
    // A write in flight keeps its event; writable() asks it directly, and
    // the forced signal below makes the watch look.
    SetEvent(signal());
}

bool PipeEnd::awaitClient(DWORD& code) {
    connecting = OVERLAPPED{};
    connecting.hEvent = signal();
    clientWaiting = connectPending = false;
    bool ok = true;
    if (ConnectNamedPipe(pipe, &connecting)) {
        clientWaiting = true;
    } else if (const DWORD status = GetLastError(); status == ERROR_IO_PENDING) {
        connectPending = true;
    } else if (status == ERROR_PIPE_CONNECTED || status == ERROR_NO_DATA) {
        // A client came between creating and connecting (or came and left:
        // its end reads as ended, as a socket's would).
        clientWaiting = true;
    } else {
        code = status;
        ok = false;
    }
    SetEvent(signal());
    return ok;
}

void PipeEnd::startRead() {
    if (listener || readPending || ended || stoppedReading || readStart < readEnd)
        return;
    readStart = readEnd = 0;
    reading = OVERLAPPED{};
    reading.hEvent = signal();
    if (ReadFile(pipe, readBuffer.data(), static_cast<DWORD>(readBuffer.size()), nullptr,
                 &reading) ||
        GetLastError() == ERROR_IO_PENDING)
        readPending = true;
    else
        ended = true;
    // Starting resets the event, which may have told of another end.
    SetEvent(signal());
}

bool PipeEnd::readSettled() {
    if (!readPending)
        return true;
    DWORD got = 0;
    if (GetOverlappedResult(pipe, &reading, &got, FALSE)) {
        readPending = false;
        readStart = 0;
        readEnd = got;
        return true;
    }
    if (GetLastError() == ERROR_IO_INCOMPLETE)
        return false;
    readPending = false;
    // ERROR_MORE_DATA cannot come from a byte pipe; anything else ends it.
    ended = true;
    return true;
}

bool PipeEnd::readable() {
    if (listener)
        return false;
    if (stoppedReading || ended || readStart < readEnd)
        return true;
    if (!readPending)
        startRead();
    return readSettled() && (ended || readStart < readEnd || !readPending);
}

bool PipeEnd::writable() {
    if (!writePending)
        return true;
    DWORD sent = 0;
    if (GetOverlappedResult(pipe, &writing, &sent, FALSE)) {
        writePending = false;
        written.clear();
        return true;
    }
    if (GetLastError() == ERROR_IO_INCOMPLETE)
        return false;
    writePending = false;
    broken = true;
    return true;
}

bool PipeEnd::clientReady() {
    if (!listener)
        return false;
    // No instance: the last one could not be made; accepting tries again.
    return clientWaiting || pipe == INVALID_HANDLE_VALUE ||
           (connectPending && HasOverlappedIoCompleted(&connecting));
}

Handle handleOf(PipeEnd* end) {
    return static_cast<Handle>(reinterpret_cast<std::uintptr_t>(end) | 1u);
}

PipeEnd* pipeEndOf(Handle handle) {
    const auto value = static_cast<std::uintptr_t>(handle);
    if (handle == noHandle || (value & 1u) == 0)
        return nullptr;
    return reinterpret_cast<PipeEnd*>(value & ~std::uintptr_t{1});
}

std::wstring pipeNameOf(const std::string& path) {
    // The pipe namespace is one for all users; the user's own folder in the
    // name keeps names apart, and every pipe of ours checks its owner.
    std::string name = withForwardSlashes(path);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    constexpr std::size_t longest = 200;
    if (name.size() > longest)
        name = name.substr(name.size() - longest);
    return L"\\\\.\\pipe\\vaskor-sdk\\" + wideOf(name);
}

} // namespace sdk::os::win32
