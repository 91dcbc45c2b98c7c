#include "platform/Wait.h"

#include <poll.h>

#include <array>
#include <cerrno>

void waitForAny(std::span<const WaitableHandle> handles, std::chrono::microseconds timeout) {
    std::array<pollfd, 8> watched{};
    std::size_t count = 0;
    for (const WaitableHandle handle : handles)
        if (handle && count < watched.size())
            watched[count++] =
                pollfd{static_cast<int>(reinterpret_cast<std::intptr_t>(handle)), POLLIN, 0};
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
    const timespec limit{static_cast<time_t>(seconds.count()),
                         static_cast<long>((timeout - seconds).count() * 1000)};
    // An interruption counts as a wake-up: the caller's pass looks again.
    ::ppoll(watched.data(), count, &limit, nullptr);
}
