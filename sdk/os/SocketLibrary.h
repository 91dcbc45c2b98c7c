#pragma once

// The system's socket library held for an object's lifetime. Windows counts
// the users of Winsock and ends it for the whole process when the last one
// lets go; whatever opens sockets of its own (the port mapper's libraries)
// holds it, so that the core's socket going first cannot end it under them.
// Nothing to hold on Linux.

namespace sdk::os {

class SocketLibrary {
public:
    SocketLibrary();
    ~SocketLibrary();
    SocketLibrary(const SocketLibrary&) = delete;
    SocketLibrary& operator=(const SocketLibrary&) = delete;

private:
    bool held = false;
};

} // namespace sdk::os
