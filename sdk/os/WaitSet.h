#pragma once

// What the core's wait handle is made of: one epoll descriptor over the
// sources of work for runCallbacks (the UDP socket, the control socket), a
// timer set to the earliest deadline of the core's timers, and a wake-up for
// completions queued outside runCallbacks. An idle core's handle stays quiet
// until its next timer is due.

#include "sdk/os/Handle.h"

#include <chrono>

#include <optional>

namespace sdk::os {

class WaitSet {
public:
    // Throws std::runtime_error when the system gives no descriptors.
    WaitSet();

    Handle handle() const { return epoll.get(); }

    // Readable descriptors whose data runCallbacks takes.
    void watch(Handle handle);

    // The timer goes off at due (at once when it has passed); none: no timer.
    // A timer that would go off earlier than needed is kept: an early wake-up
    // costs one empty pass, a late one a missed deadline.
    void wakeAt(std::optional<std::chrono::steady_clock::time_point> due);

    // Ready at once, until clearWakeUp.
    void wakeUp();
    void clearWakeUp();

private:
    void arm(std::optional<std::chrono::steady_clock::time_point> due);

    OwnedHandle epoll;
    OwnedHandle timer;
    OwnedHandle wake;
    bool woken = false;
    std::optional<std::chrono::steady_clock::time_point> armed;
};

} // namespace sdk::os
