#include "platform/linux/HelperCaller.h"

#include <sys/socket.h>
#include <unistd.h>

const char* helperCallerProblem(int requests) {
    int type = 0;
    socklen_t length = sizeof type;
    if (getsockopt(requests, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_SEQPACKET)
        return "standard input is not the socket pair of the program that started it";
    ucred peer{};
    length = sizeof peer;
    if (getsockopt(requests, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0)
        return "cannot tell who is at the other end of standard input";
    if (peer.pid != getppid() || peer.uid != getuid())
        return "refused: the other end of standard input is not the process that started it";
    return nullptr;
}
