#include "sdk/os/Handle.h"

#include "sdk/os/win32/Pipe.h"

#include <winsock2.h>

namespace sdk::os {

// A Handle is a pipe end of ours, a socket or another kernel object: the
// pipe end knows itself by its tag, and a socket is closed by Winsock, which
// says when the handle is none of its own.
void closeHandle(Handle handle) {
    if (win32::PipeEnd* end = win32::pipeEndOf(handle)) {
        delete end;
        return;
    }
    if (::closesocket(static_cast<SOCKET>(handle)) == 0)
        return;
    const int error = WSAGetLastError();
    if (error == WSAENOTSOCK || error == WSANOTINITIALISED)
        CloseHandle(reinterpret_cast<HANDLE>(handle));
}

} // namespace sdk::os
