#include "sdk/os/SocketWatch.h"

#include "sdk/os/win32/Pipe.h"
#include "sdk/os/win32/Text.h"

#include <windows.h>

#include <algorithm>

namespace sdk::os {

namespace {
HANDLE eventOf(const OwnedHandle& set) {
    return reinterpret_cast<HANDLE>(set.get());
}

Handle newEvent() {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event ? reinterpret_cast<Handle>(event) : noHandle;
}
} // namespace

// The set is an event that every watched pipe end's operations set when they
// finish; takeReady clears it and then looks at each end, so that nothing
// that finished is missed.
SocketWatch::SocketWatch() : set(newEvent()) {
    if (!set.valid())
        setupError = win32::genericError(GetLastError());
}

SocketWatch::~SocketWatch() {
    for (const auto& [socket, writes] : watched) {
        if (win32::PipeEnd* end = win32::pipeEndOf(socket)) {
            end->watchedBy = nullptr;
            end->reportTo(nullptr);
        }
    }
}

bool SocketWatch::add(Handle socket) {
    win32::PipeEnd* end = win32::pipeEndOf(socket);
    if (!end || !valid() || end->watchedBy)
        return false;
    end->reportTo(eventOf(set));
    end->watchedBy = &watched;
    end->startRead();
    watched.emplace_back(socket, false);
    return true;
}

void SocketWatch::watchWrites(Handle socket, bool wanted) {
    for (auto& [watchedSocket, writes] : watched)
        if (watchedSocket == socket)
            writes = wanted;
    if (wanted)
        SetEvent(eventOf(set));
}

void SocketWatch::remove(Handle socket) {
    std::erase_if(watched, [socket](const auto& entry) { return entry.first == socket; });
    if (win32::PipeEnd* end = win32::pipeEndOf(socket); end && end->watchedBy == &watched) {
        end->watchedBy = nullptr;
        end->reportTo(nullptr);
    }
}

std::size_t SocketWatch::takeReady(std::span<Handle> ready) {
    ResetEvent(eventOf(set));
    std::size_t count = 0;
    bool more = false;
    for (const auto& [socket, writes] : watched) {
        win32::PipeEnd* end = win32::pipeEndOf(socket);
        const bool isReady =
            end->listener ? end->clientReady() : end->readable() || (writes && end->writable());
        if (!isReady)
            continue;
        if (count < ready.size())
            ready[count++] = socket;
        else
            more = true;
    }
    // As a level: what is ready now and not taken keeps the set ready.
    if (count > 0 || more)
        SetEvent(eventOf(set));
    return count;
}

} // namespace sdk::os
