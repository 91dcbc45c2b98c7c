#pragma once

// Sleeping until a handle has work: the run's loop waits on the adapter's
// read-wait handle and the SDK's wait handle at once.

#include <chrono>
#include <cstdint>
#include <span>

// An event handle on Windows; on Linux a descriptor cast to a pointer, as the
// adapter library's read-wait handle is. Null: no handle.
using WaitableHandle = void*;

inline WaitableHandle waitableOf(void* handle) {
    return handle;
}
inline WaitableHandle waitableOf(int descriptor) {
    return descriptor < 0
               ? nullptr
               : reinterpret_cast<WaitableHandle>(static_cast<std::intptr_t>(descriptor));
}

// Returns when one of the handles is ready or when the time-out has passed,
// whichever comes first; null handles are left out. Never reads or resets a
// handle.
void waitForAny(std::span<const WaitableHandle> handles, std::chrono::microseconds timeout);
