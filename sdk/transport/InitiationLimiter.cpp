#include "sdk/transport/InitiationLimiter.h"

#include <algorithm>

namespace sdk::transport {

namespace {
constexpr std::chrono::seconds window{1};
} // namespace

bool InitiationLimiter::countAndCheckLoad(TimePoint now) {
    if (now - windowStart >= window) {
        previousWindow = now - windowStart >= 2 * window ? 0 : inWindow;
        windowStart = now;
        inWindow = 0;
    }
    ++inWindow;
    // The last full second counts too, so load does not end at every turn of the window.
    return std::max(inWindow, previousWindow) > limits.loadPerSecond || exchangesLeft <= 0;
}

bool InitiationLimiter::allowSource(const Endpoint& from, TimePoint now) {
    const SourceKey key = sourceKeyOf(from);
    auto found = sources.find(key);
    if (found == sources.end()) {
        // Forget only the source seen least recently: a sender of many
        // spoofed sources cannot wipe the bucket of the one that floods.
        if (sources.size() >= limits.maxSources && !recent.empty()) {
            sources.erase(recent.back().source);
            recent.pop_back();
        }
        recent.push_front(Bucket{key, limits.sourceBurst, now});
        found = sources.emplace(key, recent.begin()).first;
    } else {
        recent.splice(recent.begin(), recent, found->second);
    }
    Bucket& bucket = *found->second;
    const double seconds = std::chrono::duration<double>(now - bucket.refilledAt).count();
    bucket.tokens = std::min(limits.sourceBurst, bucket.tokens + seconds * limits.sourceRate);
    bucket.refilledAt = now;
    if (bucket.tokens < 1)
        return false;
    bucket.tokens -= 1;
    return true;
}

bool InitiationLimiter::takeExchange() {
    if (exchangesLeft <= 0)
        return false;
    --exchangesLeft;
    return true;
}

} // namespace sdk::transport
