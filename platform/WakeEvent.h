#pragma once

// A handle that another thread sets to end the run's wait at once: the stop
// flag and the invite request wake the run instead of the run waking on a
// clock to look for them, so an idle run sleeps until there is work.

#include "platform/Wait.h"

class WakeEvent {
public:
    // Throws std::system_error when the system gives no handle.
    WakeEvent();
    ~WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    // Any thread: ready until the next clear.
    void signal();
    // The waiting thread, after its wait and before it looks at what the
    // signal stands for, so that a signal given meanwhile is never lost.
    void clear();

    WaitableHandle handle() const { return native; }

private:
    WaitableHandle native = nullptr;
};
