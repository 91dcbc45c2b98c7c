// vaskor-adapter-helper: creates the network adapter for the one process that
// started it, and changes that adapter alone. It holds CAP_NET_ADMIN (given to
// this file; the window's program holds none) and takes its requests from its
// standard input, a socket pair whose other end only its parent holds. When
// that end closes, the parent ended or crashed: the adapter goes with it.

#include "platform/linux/HelperCaller.h"
#include "tun/helper/AdapterHelper.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int requests = 0; // standard input

int refuse(const char* reason) {
    std::fprintf(stderr, "vaskor-adapter-helper: %s\n", reason);
    return 1;
}

bool sendReply(const HelperReply& reply, const UniqueDescriptor& handOver) {
    auto bytes = encodeHelperReply(reply);
    iovec part{bytes.data(), bytes.size()};
    msghdr header{};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    if (handOver.get() >= 0) {
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        cmsghdr* item = CMSG_FIRSTHDR(&header);
        item->cmsg_level = SOL_SOCKET;
        item->cmsg_type = SCM_RIGHTS;
        item->cmsg_len = CMSG_LEN(sizeof(int));
        int fd = handOver.get();
        std::memcpy(CMSG_DATA(item), &fd, sizeof fd);
    }
    return sendmsg(requests, &header, MSG_NOSIGNAL) >= 0;
}

} // namespace

int main() {
    // Nothing of the caller's environment may steer us or firewall-cmd.
    clearenv();
    setenv("PATH", "/usr/sbin:/usr/bin:/sbin:/bin", 1);
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    std::signal(SIGPIPE, SIG_IGN);
    if (const char* problem = helperCallerProblem(requests))
        return refuse(problem);

    AdapterHelper helper;
    std::uint8_t message[helperMessageLimit + 1];
    while (!helper.finished()) {
        ssize_t length = recv(requests, message, sizeof message, MSG_TRUNC);
        if (length < 0 && errno == EINTR)
            continue;
        if (length <= 0)
            break; // our parent is gone: the helper's destructor removes the adapter
        HelperRequest request =
            static_cast<std::size_t>(length) > helperMessageLimit
                ? HelperRequest{HelperMalformed{"the request is too long"}}
                : parseHelperRequest({message, static_cast<std::size_t>(length)});
        UniqueDescriptor handOver;
        if (!sendReply(helper.handle(request, handOver), handOver))
            break;
    }
    return 0;
}
