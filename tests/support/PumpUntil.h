#pragma once

// The one loop of the tests that drive cores, transports or control ends by
// hand: each pass lets every party take its turn (pumpOnce, declared beside
// each kind of party), then checks the condition. A condition, never a time.

#include <chrono>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <thread>

namespace testsupport {

inline constexpr std::chrono::milliseconds defaultPumpLimit{5000};

// Runs step until done() holds (true) or the limit passes (false).
inline bool pumpUntil(const std::function<void()>& step, const std::function<bool()>& done,
                      std::chrono::milliseconds limit = defaultPumpLimit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (true) {
        step();
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

template <typename Parties>
requires requires(const Parties& parties) {
    *std::begin(parties);
}
bool pumpUntil(const Parties& parties, const std::function<bool()>& done,
               std::chrono::milliseconds limit = defaultPumpLimit,
               const std::function<void()>& alongside = {}) {
    return pumpUntil(
        [&] {
            for (auto* party : parties)
                pumpOnce(*party);
            if (alongside)
                alongside();
        },
        done, limit);
}

template <typename Party>
bool pumpUntil(std::initializer_list<Party*> parties, const std::function<bool()>& done,
               std::chrono::milliseconds limit = defaultPumpLimit,
               const std::function<void()>& alongside = {}) {
    return pumpUntil<std::initializer_list<Party*>>(parties, done, limit, alongside);
}

// Lets the parties run for a while, for what must not happen.
template <typename Parties>
requires requires(const Parties& parties) {
    *std::begin(parties);
}
void pumpFor(const Parties& parties, std::chrono::milliseconds time) {
    pumpUntil(
        parties, [] { return false; }, time);
}

template <typename Party>
void pumpFor(std::initializer_list<Party*> parties, std::chrono::milliseconds time) {
    pumpFor<std::initializer_list<Party*>>(parties, time);
}

} // namespace testsupport
