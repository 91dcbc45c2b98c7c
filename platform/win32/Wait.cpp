#include "platform/Wait.h"

#include <windows.h>

#include <array>

void waitForAny(std::span<const WaitableHandle> handles, std::chrono::microseconds timeout) {
    std::array<HANDLE, MAXIMUM_WAIT_OBJECTS> watched{};
    DWORD count = 0;
    for (const WaitableHandle handle : handles)
        if (handle && count < watched.size())
            watched[count++] = handle;
    // Millisecond resolution; a partial millisecond rounds up so that the
    // caller never spins.
    const auto milliseconds = static_cast<DWORD>((timeout + std::chrono::microseconds(999)) /
                                                 std::chrono::milliseconds(1));
    if (count == 0) {
        Sleep(milliseconds);
        return;
    }
    WaitForMultipleObjects(count, watched.data(), FALSE, milliseconds);
}
