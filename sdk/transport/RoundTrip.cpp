#include "sdk/transport/RoundTrip.h"

#include <algorithm>

namespace sdk::transport {

void RoundTrip::addSample(std::chrono::microseconds sample) {
    if (!any) {
        smoothedRtt = sample;
        variation = sample / 2;
        any = true;
    } else {
        const auto error = sample > smoothedRtt ? sample - smoothedRtt : smoothedRtt - sample;
        variation = (3 * variation + error) / 4;
        smoothedRtt = (7 * smoothedRtt + sample) / 8;
    }
    currentTimeout = std::clamp(smoothedRtt + 4 * variation, minimumTimeout, maximumTimeout);
}

void RoundTrip::backOff() {
    currentTimeout = std::min(2 * currentTimeout, maximumTimeout);
}

} // namespace sdk::transport
