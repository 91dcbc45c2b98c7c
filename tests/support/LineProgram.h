#pragma once

// What the tests' helper programs share: they talk in lines on standard
// output, flushed at once so that a test reading them waits for nothing, and
// end cleanly on SIGINT or SIGTERM.

#include <csignal>
#include <cstdio>
#include <string>

namespace testsupport {

inline volatile std::sig_atomic_t stopSignal = 0;

inline void onStopSignal(int) {
    stopSignal = 1;
}

inline void stopOnSignals() {
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
}

inline bool stopRequested() {
    return stopSignal != 0;
}

inline void say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

} // namespace testsupport
