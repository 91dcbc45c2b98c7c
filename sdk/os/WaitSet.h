#pragma once

// What the core's wait handle is made of: on Linux one epoll descriptor over
// the sources of work for runCallbacks (the UDP socket, the control socket), a
// timer set to the earliest deadline of the core's timers, and a wake-up for
// completions queued outside runCallbacks; on Windows one event that the same
// sources set. An idle core's handle stays quiet until its next timer is due.

#include "sdk/os/Handle.h"

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

namespace sdk::os {

class WaitSet {
public:
    // Throws std::runtime_error when the system gives no descriptors.
    WaitSet();

    Handle handle() const { return waitable.get(); }

    // Readable descriptors whose data runCallbacks takes.
    void watch(Handle handle);

    // The timer goes off at due (at once when it has passed); none: no timer.
    // A timer that would go off earlier than needed is kept: an early wake-up
    // costs one empty pass, a late one a missed deadline.
    void wakeAt(std::optional<std::chrono::steady_clock::time_point> due);

    // Ready at once, until clearWakeUp.
    void wakeUp();
    // Also, on Windows, where an event does not follow its sources by itself:
    // quiet again unless a source still has work.
    void clearWakeUp();

private:
    void arm(std::optional<std::chrono::steady_clock::time_point> due);

#ifdef _WIN32
public:
    ~WaitSet();
    WaitSet(const WaitSet&) = delete;
    WaitSet& operator=(const WaitSet&) = delete;
    struct Forward; // sets the event when a watched event is set

private:
    void refresh();

    OwnedHandle waitable; // the event
    std::vector<Handle> sockets;
    std::vector<std::unique_ptr<Forward>> forwards;
    void* timer = nullptr; // the thread pool's timer
#else
    OwnedHandle waitable; // the epoll descriptor
    OwnedHandle timer;
    OwnedHandle wake;
#endif
    bool woken = false;
    std::optional<std::chrono::steady_clock::time_point> armed;
};

} // namespace sdk::os
