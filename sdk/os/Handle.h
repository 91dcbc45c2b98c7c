#pragma once

// A socket or other object of the system: a file descriptor on Linux, a
// SOCKET or HANDLE on Windows. Pointer-sized, so that each fits.

#include <cstdint>
#include <utility>

namespace sdk::os {

using Handle = std::intptr_t;
inline constexpr Handle noHandle = -1;

void closeHandle(Handle handle);

// Sole owner of a handle; closes it on destruction.
class OwnedHandle {
public:
    OwnedHandle() = default;
    explicit OwnedHandle(Handle handle) : handle(handle) {}
    OwnedHandle(OwnedHandle&& other) noexcept : handle(std::exchange(other.handle, noHandle)) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept {
        if (this != &other) {
            reset();
            handle = std::exchange(other.handle, noHandle);
        }
        return *this;
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    ~OwnedHandle() { reset(); }

    Handle get() const { return handle; }
    bool valid() const { return handle != noHandle; }
    void reset() {
        if (valid())
            closeHandle(handle);
        handle = noHandle;
    }

private:
    Handle handle = noHandle;
};

} // namespace sdk::os
