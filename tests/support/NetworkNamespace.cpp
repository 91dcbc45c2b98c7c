#include "tests/support/NetworkNamespace.h"

#include <cerrno>
#include <exception>
#include <fcntl.h>
#include <linux/capability.h>
#include <net/if.h>
#include <sched.h>
#include <stdexcept>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

void bringLoopbackUp() {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::system_error(errno, std::system_category(), "socket");
    ifreq request{};
    std::string("lo").copy(request.ifr_name, IFNAMSIZ - 1);
    int rc = ioctl(fd, SIOCGIFFLAGS, &request);
    request.ifr_flags |= IFF_UP;
    if (rc == 0)
        rc = ioctl(fd, SIOCSIFFLAGS, &request);
    int error = errno;
    close(fd);
    if (rc != 0)
        throw std::system_error(error, std::system_category(), "bringing loopback up");
}

} // namespace

bool mayAdministerNetwork() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    return (data[0].effective & (1u << CAP_NET_ADMIN)) != 0 &&
           (data[0].effective & (1u << CAP_SYS_ADMIN)) != 0;
}

void inFreshNetworkNamespace(const std::function<void()>& body) {
    std::exception_ptr failure;
    // The namespace belongs to this thread alone and goes when it ends.
    std::thread worker([&] {
        try {
            if (unshare(CLONE_NEWNET) != 0)
                throw std::system_error(errno, std::system_category(), "unshare(CLONE_NEWNET)");
            bringLoopbackUp();
            body();
        } catch (...) {
            failure = std::current_exception();
        }
    });
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
}

ScopedNetworkNamespace::ScopedNetworkNamespace() {
    if (!mayAdministerNetwork())
        return;
    previous = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (previous < 0)
        throw std::system_error(errno, std::system_category(), "opening the thread's namespace");
    if (unshare(CLONE_NEWNET) != 0) {
        const int error = errno;
        close(previous);
        throw std::system_error(error, std::system_category(), "unshare(CLONE_NEWNET)");
    }
    try {
        bringLoopbackUp();
    } catch (...) {
        setns(previous, CLONE_NEWNET);
        close(previous);
        throw;
    }
}

ScopedNetworkNamespace::~ScopedNetworkNamespace() {
    if (previous < 0)
        return;
    setns(previous, CLONE_NEWNET);
    close(previous);
}
