#pragma once

// How much handshake work a core does for others: a fixed number of
// public-key exchanges per poll, a load mark above which every initiation
// must carry a cookie, and under load a rate per source address. Members'
// data never passes here, so a flood of initiations cannot hold it up.

#include "sdk/transport/SourceKey.h"
#include "sdk/transport/Types.h"

#include <cstddef>
#include <list>
#include <map>

namespace sdk::transport {

struct InitiationLimits {
    int exchangesPerPoll = 16;
    int loadPerSecond = 64; // initiations with a valid mac1; more means load
    double sourceRate = 20; // per second and source address, under load
    double sourceBurst = 10;
    std::size_t maxSources = 4096; // past this the least recently seen is forgotten
};

class InitiationLimiter {
public:
    explicit InitiationLimiter(InitiationLimits limits = {}) : limits(limits) {}

    void startPoll() { exchangesLeft = limits.exchangesPerPoll; }
    // Counts one initiation that passed mac1; true when the core is under load.
    bool countAndCheckLoad(TimePoint now);
    // Under load: false when the source sent more than its share.
    bool allowSource(const Endpoint& from, TimePoint now);
    // False when this poll's exchanges are spent.
    bool takeExchange();

private:
    struct Bucket {
        SourceKey source{};
        double tokens = 0;
        TimePoint refilledAt{};
    };

    InitiationLimits limits;
    int exchangesLeft = 0;
    TimePoint windowStart{};
    int inWindow = 0;
    int previousWindow = 0;
    // Most recently seen first. An ordered map: its cost does not depend on
    // which keys a sender picks.
    std::list<Bucket> recent;
    std::map<SourceKey, std::list<Bucket>::iterator> sources;
};

} // namespace sdk::transport
