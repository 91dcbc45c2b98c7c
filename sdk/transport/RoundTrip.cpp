#include "sdk/transport/RoundTrip.h"

#include <algorithm>

namespace sdk::transport {

void RoundTrip::addSample(std::chrono::microseconds sample) {
    if (!any_) {
        smoothed_ = sample;
        variation_ = sample / 2;
        any_ = true;
    } else {
        const auto error = sample > smoothed_ ? sample - smoothed_ : smoothed_ - sample;
        variation_ = (3 * variation_ + error) / 4;
        smoothed_ = (7 * smoothed_ + sample) / 8;
    }
    timeout_ = std::clamp(smoothed_ + 4 * variation_, minimumTimeout, maximumTimeout);
}

void RoundTrip::backOff() {
    timeout_ = std::min(2 * timeout_, maximumTimeout);
}

} // namespace sdk::transport
