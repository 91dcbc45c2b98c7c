#include "platform/WakeEvent.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace {
int descriptorOf(WaitableHandle handle) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(handle));
}
} // namespace

WakeEvent::WakeEvent() {
    int descriptor = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    // Descriptor 0 (a program started with standard input closed) would be
    // the null handle, which a wait leaves out.
    if (descriptor == 0) {
        descriptor = ::fcntl(0, F_DUPFD_CLOEXEC, 1);
        ::close(0);
    }
    if (descriptor < 0)
        throw std::system_error(errno, std::generic_category(), "Cannot create the run's wake-up");
    native = waitableOf(descriptor);
}

WakeEvent::~WakeEvent() {
    ::close(descriptorOf(native));
}

void WakeEvent::signal() {
    // The counter cannot overflow before the waiting thread clears it; a
    // full counter would still leave the descriptor readable.
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(descriptorOf(native), &one, sizeof one);
}

void WakeEvent::clear() {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto taken = ::read(descriptorOf(native), &count, sizeof count);
}
