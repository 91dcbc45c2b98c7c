#pragma once

#include <functional>

// True when the process may create interfaces (root or CAP_NET_ADMIN).
bool mayAdministerNetwork();

// Runs body on a thread of its own in a new, empty network namespace with only
// loopback up. Whatever the body creates there dies with the namespace, also
// when the test is interrupted: nothing ever reaches the root namespace.
// Exceptions of the body are rethrown here.
void inFreshNetworkNamespace(const std::function<void()>& body);

#define SKIP_UNLESS_NETWORK_ADMIN()                                                                \
    do {                                                                                           \
        if (!mayAdministerNetwork())                                                               \
            GTEST_SKIP() << "needs root (CAP_NET_ADMIN) to create network namespaces and "         \
                            "TUN interfaces";                                                      \
    } while (false)
