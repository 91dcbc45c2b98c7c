#pragma once

// Completions and events waiting for the program's next runCallbacks.

#include <deque>
#include <functional>
#include <memory>

namespace sdk {

class CallbackQueue {
public:
    void push(std::function<void()> callback) { waiting.push_back(std::move(callback)); }

    // Runs what was queued before this call, in order. What those callbacks
    // queue waits for the next call. Stops at once when `alive` turns false
    // (a callback destroyed the core).
    void runWaiting(const std::shared_ptr<bool>& alive) {
        std::size_t count = waiting.size();
        while (count-- > 0 && *alive) {
            auto callback = std::move(waiting.front());
            waiting.pop_front();
            callback();
        }
    }

    void clear() { waiting.clear(); }

private:
    std::deque<std::function<void()>> waiting;
};

} // namespace sdk
