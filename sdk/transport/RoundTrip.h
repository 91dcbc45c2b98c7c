#pragma once

// Round-trip estimate and retransmission time-out of one peer, in the manner
// of TCP: smoothed round trip plus four times its variation, backed off
// exponentially while nothing is acknowledged.

#include "sdk/transport/Types.h"

namespace sdk::transport {

class RoundTrip {
public:
    static constexpr std::chrono::microseconds minimumTimeout{15'000};
    static constexpr std::chrono::microseconds initialTimeout{250'000};
    static constexpr std::chrono::microseconds maximumTimeout{3'000'000};

    void addSample(std::chrono::microseconds sample);
    void backOff();
    std::chrono::microseconds timeout() const { return currentTimeout; }
    std::chrono::microseconds smoothed() const { return smoothedRtt; }

private:
    bool any = false;
    std::chrono::microseconds smoothedRtt{0};
    std::chrono::microseconds variation{0};
    std::chrono::microseconds currentTimeout = initialTimeout;
};

} // namespace sdk::transport
