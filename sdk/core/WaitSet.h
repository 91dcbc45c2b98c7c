#pragma once

// What the core's wait handle is made of: one epoll descriptor over the
// sources of work for runCallbacks (the UDP socket, the control socket), a
// timer set to the earliest deadline of the core's timers, and a wake-up for
// completions queued outside runCallbacks. An idle core's handle stays quiet
// until its next timer is due.

#include "sdk/control/FileDescriptor.h"
#include "sdk/transport/Types.h"

#include <optional>

namespace sdk {

class WaitSet {
public:
    // Throws std::runtime_error when the system gives no descriptors.
    WaitSet();

    int handle() const { return epoll.get(); }

    // Readable descriptors whose data runCallbacks takes.
    void watch(int fd);

    // The timer goes off at due (at once when it has passed); none: no timer.
    // A timer that would go off earlier than needed is kept: an early wake-up
    // costs one empty pass, a late one a missed deadline.
    void wakeAt(std::optional<transport::TimePoint> due);

    // Ready at once, until clearWakeUp.
    void wakeUp();
    void clearWakeUp();

private:
    void arm(std::optional<transport::TimePoint> due);

    FileDescriptor epoll;
    FileDescriptor timer;
    FileDescriptor wake;
    bool woken = false;
    std::optional<transport::TimePoint> armed;
};

} // namespace sdk
