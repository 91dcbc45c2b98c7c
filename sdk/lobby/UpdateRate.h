#pragma once

// How often the host spreads one member's metadata: `burst` updates at once,
// then one per `interval` (10 a second). Updates that come faster are merged:
// the host keeps the newest metadata and sends it when the rate allows, so
// nothing is lost and every member ends with the same state.

#include "sdk/transport/Types.h"

#include <algorithm>

namespace sdk::lobby {

class UpdateRate {
public:
    static constexpr int burst = 4;
    static constexpr transport::Milliseconds interval{100};

    // Spends one update if the rate allows it now.
    bool take(transport::TimePoint now) {
        refill(now);
        if (tokens == 0)
            return false;
        --tokens;
        return true;
    }
    // When take next succeeds.
    transport::TimePoint nextAt() const { return tokens > 0 ? since : since + interval; }

private:
    void refill(transport::TimePoint now) {
        if (tokens == burst || since == transport::TimePoint{}) {
            since = now;
            return;
        }
        const auto gained = (now - since) / interval;
        if (gained <= 0)
            return;
        tokens = static_cast<int>(std::min<decltype(gained)>(burst, tokens + gained));
        since = tokens == burst ? now : since + gained * interval;
    }

    int tokens = burst;
    transport::TimePoint since{};
};

} // namespace sdk::lobby
