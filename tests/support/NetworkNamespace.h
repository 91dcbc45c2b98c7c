#pragma once

#include <functional>

// True when the process may create interfaces (root or CAP_NET_ADMIN).
bool mayAdministerNetwork();

// Runs body on a thread of its own in a new, empty network namespace with only
// loopback up. Whatever the body creates there dies with the namespace, also
// when the test is interrupted: nothing ever reaches the root namespace.
// Exceptions of the body are rethrown here.
void inFreshNetworkNamespace(const std::function<void()>& body);

// While it lives, the calling thread is in a new network namespace with only
// loopback up, where the process may administer networks; threads started
// meanwhile stay in it for their whole life. For code that must stay on its
// thread (a window's), where inFreshNetworkNamespace cannot be used. Without
// the right it does nothing: such a process cannot change any network.
class ScopedNetworkNamespace {
public:
    ScopedNetworkNamespace();
    ~ScopedNetworkNamespace(); // back to the namespace the thread had
    ScopedNetworkNamespace(const ScopedNetworkNamespace&) = delete;
    ScopedNetworkNamespace& operator=(const ScopedNetworkNamespace&) = delete;

private:
    int previous = -1;
};

#define SKIP_UNLESS_NETWORK_ADMIN()                                                                \
    do {                                                                                           \
        if (!mayAdministerNetwork())                                                               \
            GTEST_SKIP() << "needs root (CAP_NET_ADMIN) to create network namespaces and "         \
                            "TUN interfaces";                                                      \
    } while (false)
