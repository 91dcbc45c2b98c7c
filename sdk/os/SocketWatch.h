#pragma once

// A set of sockets watched together, so that a loop handles only those that
// are ready; itself a handle that a loop which sleeps can wait on.

#include "sdk/os/Handle.h"

#include <cstddef>
#include <span>
#include <system_error>
#include <utility>
#include <vector>

namespace sdk::os {

class SocketWatch {
public:
    SocketWatch();
#ifdef _WIN32
    ~SocketWatch();
    SocketWatch(const SocketWatch&) = delete;
    SocketWatch& operator=(const SocketWatch&) = delete;
#endif

    // False when the set could not be made; failure() says why.
    bool valid() const {
        return set.valid();
    }
    std::error_code failure() const {
        return setupError;
    }
    // Readable whenever a watched socket is ready.
    Handle handle() const {
        return set.get();
    }

    // Watches socket for reads and for its peer's end.
    bool add(Handle socket);
    // Whether socket's readiness to write counts as well.
    void watchWrites(Handle socket, bool wanted);
    void remove(Handle socket);

    // The sockets ready now, without waiting: at most ready.size().
    std::size_t takeReady(std::span<Handle> ready);

private:
    OwnedHandle set;
    std::error_code setupError;
#ifdef _WIN32
public:
    // Windows: the pipe ends in the set, each with whether its writes count.
    // An end closed while watched leaves the list itself.
    using Watched = std::vector<std::pair<Handle, bool>>;

private:
    Watched watched;
#endif
};

} // namespace sdk::os
