#include "vpn/NetworkWorker.h"

#include "vpn/NetworkRun.h"
#include "vpn/Vpn.h"

#include <exception>

void NetworkWorker(Vpn* vpn) {
    // Nothing may leave the worker thread: a failure without a handler of its
    // own becomes the run's error, and the run stops.
    try {
        NetworkRun(*vpn).run();
    } catch (const std::exception& error) {
        vpn->fail(error.what());
    } catch (...) {
        vpn->fail("The network worker stopped after an unexpected failure.");
    }
}
