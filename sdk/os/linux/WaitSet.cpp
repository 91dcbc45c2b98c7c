#include "sdk/os/WaitSet.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

namespace sdk::os {

namespace {
OwnedHandle checked(int fd, const char* what) {
    if (fd < 0)
        throw std::runtime_error(std::string("cannot create the core's ") + what + ": " +
                                 std::strerror(errno));
    return OwnedHandle(fd);
}

// steady_clock is CLOCK_MONOTONIC, the timer's clock.
timespec timespecOf(std::chrono::steady_clock::time_point point) {
    const auto nanoseconds =
        std::chrono::duration_cast<std::chrono::nanoseconds>(point.time_since_epoch()).count();
    timespec out{};
    out.tv_sec = static_cast<time_t>(nanoseconds / 1'000'000'000);
    out.tv_nsec = static_cast<long>(nanoseconds % 1'000'000'000);
    // Zero would disarm the timer: a deadline at the clock's start is "now".
    if (out.tv_sec == 0 && out.tv_nsec == 0)
        out.tv_nsec = 1;
    return out;
}
} // namespace

WaitSet::WaitSet()
    : waitable(checked(::epoll_create1(EPOLL_CLOEXEC), "wait handle")),
      timer(checked(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC), "timer")),
      wake(checked(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC), "wake-up")) {
    watch(timer.get());
    watch(wake.get());
}

void WaitSet::watch(Handle handle) {
    const int fd = static_cast<int>(handle);
    epoll_event interest{};
    interest.events = EPOLLIN;
    interest.data.fd = fd;
    if (::epoll_ctl(static_cast<int>(waitable.get()), EPOLL_CTL_ADD, fd, &interest) != 0)
        throw std::runtime_error(std::string("cannot watch a descriptor of the core: ") +
                                 std::strerror(errno));
}

void WaitSet::wakeAt(std::optional<std::chrono::steady_clock::time_point> due) {
    if (!due) {
        if (armed)
            arm(std::nullopt);
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (*due <= now) {
        wakeUp();
        return;
    }
    // Re-arming also clears a timer that went off.
    if (!armed || *due < *armed || *armed <= now)
        arm(due);
}

void WaitSet::arm(std::optional<std::chrono::steady_clock::time_point> due) {
    itimerspec setting{};
    if (due)
        setting.it_value = timespecOf(*due);
    ::timerfd_settime(static_cast<int>(timer.get()), TFD_TIMER_ABSTIME, &setting, nullptr);
    armed = due;
}

void WaitSet::wakeUp() {
    if (woken)
        return;
    const std::uint64_t one = 1;
    if (::write(static_cast<int>(wake.get()), &one, sizeof one) == sizeof one)
        woken = true;
}

void WaitSet::clearWakeUp() {
    if (!woken)
        return;
    std::uint64_t count = 0;
    if (::read(static_cast<int>(wake.get()), &count, sizeof count) == sizeof count ||
        errno == EAGAIN)
        woken = false;
}

} // namespace sdk::os
