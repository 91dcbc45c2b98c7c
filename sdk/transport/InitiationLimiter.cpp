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

bool InitiationLimiter::allowSource(std::uint32_t address, TimePoint now) {
    auto found = sources.find(address);
    if (found == sources.end()) {
        if (sources.size() >= limits.maxSources) {
            // Forget sources whose bucket is full again; if none, start afresh.
            std::erase_if(sources, [&](const auto& entry) {
                const double seconds =
                    std::chrono::duration<double>(now - entry.second.refilledAt).count();
                return entry.second.tokens + seconds * limits.sourceRate >= limits.sourceBurst;
            });
            if (sources.size() >= limits.maxSources)
                sources.clear();
        }
        found = sources.emplace(address, Bucket{limits.sourceBurst, now}).first;
    }
    Bucket& bucket = found->second;
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
