#include "platform/WakeEvent.h"

#include <windows.h>

#include <system_error>

WakeEvent::WakeEvent() {
    // Manual reset: the waiting thread clears it after it has looked.
    native = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!native)
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "Cannot create the run's wake-up");
}

WakeEvent::~WakeEvent() {
    CloseHandle(native);
}

void WakeEvent::signal() {
    SetEvent(native);
}

void WakeEvent::clear() {
    ResetEvent(native);
}
