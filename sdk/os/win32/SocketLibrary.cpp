#include "sdk/os/SocketLibrary.h"

#include <winsock2.h>

namespace sdk::os {

// A failed start leaves nothing to end: the sockets opened later fail with
// Winsock's own error, which their users already handle.
SocketLibrary::SocketLibrary() {
    WSADATA data{};
    held = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

SocketLibrary::~SocketLibrary() {
    if (held)
        WSACleanup();
}

} // namespace sdk::os
