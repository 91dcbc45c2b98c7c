#include "sdk/os/SocketWatch.h"

#include <sys/epoll.h>

#include <algorithm>
#include <cerrno>

namespace sdk::os {

namespace {
constexpr int maxReady = 32;

epoll_event interestIn(Handle socket, bool writes) {
    epoll_event interest{};
    interest.events = EPOLLIN | EPOLLRDHUP | (writes ? EPOLLOUT : 0u);
    interest.data.fd = static_cast<int>(socket);
    return interest;
}
} // namespace

SocketWatch::SocketWatch() : set(::epoll_create1(EPOLL_CLOEXEC)) {
    if (!set.valid())
        setupError = std::error_code(errno, std::generic_category());
}

bool SocketWatch::add(Handle socket) {
    epoll_event interest = interestIn(socket, false);
    return ::epoll_ctl(static_cast<int>(set.get()), EPOLL_CTL_ADD, static_cast<int>(socket),
                       &interest) == 0;
}

void SocketWatch::watchWrites(Handle socket, bool wanted) {
    epoll_event interest = interestIn(socket, wanted);
    ::epoll_ctl(static_cast<int>(set.get()), EPOLL_CTL_MOD, static_cast<int>(socket), &interest);
}

void SocketWatch::remove(Handle socket) {
    ::epoll_ctl(static_cast<int>(set.get()), EPOLL_CTL_DEL, static_cast<int>(socket), nullptr);
}

std::size_t SocketWatch::takeReady(std::span<Handle> ready) {
    epoll_event events[maxReady];
    const int room = static_cast<int>(std::min<std::size_t>(ready.size(), maxReady));
    const int count = ::epoll_wait(static_cast<int>(set.get()), events, room, 0);
    for (int i = 0; i < count; ++i)
        ready[static_cast<std::size_t>(i)] = events[i].data.fd;
    return count > 0 ? static_cast<std::size_t>(count) : 0;
}

} // namespace sdk::os
