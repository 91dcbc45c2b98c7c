#pragma once

// The control channel on Windows: a named pipe per connection. Wine has no
// AF_UNIX sockets, so a pipe is what both it and Windows give. A pipe has no
// "ready" of its own; each end keeps at most one read and one write in flight
// (overlapped), so that reads and writes never wait, and an event says when
// one of them has finished.
//
// The SDK's Handle for a pipe end is the address of its PipeEnd with the
// lowest bit set: system handles are multiples of four, so the two never mix.

#include "sdk/os/Handle.h"
#include "sdk/os/SocketWatch.h"

#include <windows.h>

#include <array>
#include <string>

namespace sdk::os::win32 {

struct PipeEnd {
    PipeEnd();
    ~PipeEnd();
    PipeEnd(const PipeEnd&) = delete;
    PipeEnd& operator=(const PipeEnd&) = delete;

    // The event of the watch this end is in, or its own.
    HANDLE signal() const { return watchEvent ? watchEvent : ownEvent; }
    // Operations started now report to signal(); one already in flight is
    // started again so that it does too.
    void reportTo(HANDLE event);

    // A listener's instance waits for the next client; false with the
    // system's code when it cannot.
    bool awaitClient(DWORD& code);
    // Starts a read when none is in flight and nothing waits to be taken.
    void startRead();
    // Settles a read in flight without waiting; false while it runs.
    bool readSettled();
    bool readable();    // data waits, or the pipe ended
    bool writable();    // no write in flight any more
    bool clientReady(); // a listener's client waits to be accepted
    // Cancels what is in flight and waits for the system to let go of it.
    void cancelAll();

    HANDLE pipe = INVALID_HANDLE_VALUE;
    HANDLE ownEvent = nullptr;
    HANDLE watchEvent = nullptr;
    SocketWatch::Watched* watchedBy = nullptr; // left when this end closes

    // A listener: pipe is the instance that waits for the next client.
    bool listener = false;
    std::wstring name;
    OVERLAPPED connecting{};
    bool connectPending = false;
    bool clientWaiting = false;

    OVERLAPPED reading{};
    bool readPending = false;
    std::array<char, 16384> readBuffer{};
    std::size_t readStart = 0;
    std::size_t readEnd = 0;
    bool ended = false;
    bool stoppedReading = false;

    OVERLAPPED writing{};
    bool writePending = false;
    std::string written;
    bool broken = false;
};

Handle handleOf(PipeEnd* end);
// The pipe end a handle names, or null when it names none.
PipeEnd* pipeEndOf(Handle handle);

// The pipe's name for a control path: the path names a marker file in the
// user's private directory (where cores are found), the pipe carries the data.
std::wstring pipeNameOf(const std::string& path);

} // namespace sdk::os::win32
