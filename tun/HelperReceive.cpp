#include "tun/HelperReceive.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

int receiveHelperReply(int socket, int timeLimitMs, ReceivedReply& received) {
    pollfd ready{socket, POLLIN, 0};
    int polled = 0;
    while ((polled = poll(&ready, 1, timeLimitMs)) < 0 && errno == EINTR) {
    }
    if (polled < 0)
        return errno;
    if (polled == 0)
        return ETIMEDOUT;

    std::uint8_t bytes[helperMessageLimit];
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    iovec part{bytes, sizeof bytes};
    msghdr header{};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    ssize_t length = 0;
    while ((length = recvmsg(socket, &header, MSG_CMSG_CLOEXEC)) < 0 && errno == EINTR) {
    }
    if (length <= 0)
        return length == 0 ? EPIPE : errno;
    // Taken before anything else is checked, so that a descriptor is never left open.
    UniqueDescriptor handed;
    if (cmsghdr* item = CMSG_FIRSTHDR(&header); item != nullptr && item->cmsg_level == SOL_SOCKET &&
                                                item->cmsg_type == SCM_RIGHTS &&
                                                item->cmsg_len == CMSG_LEN(sizeof(int))) {
        int fd = -1;
        std::memcpy(&fd, CMSG_DATA(item), sizeof fd);
        handed.reset(fd);
    }
    const auto parsed = parseHelperReply({bytes, static_cast<std::size_t>(length)});
    if (!parsed || (header.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0)
        return EPROTO;
    received.reply = *parsed;
    received.handed = std::move(handed);
    return 0;
}
