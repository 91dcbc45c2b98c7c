#pragma once

// Which datagram counters of a session were already accepted: the newest one
// and the 1984 before it. Anything older counts as replayed.

#include <array>
#include <cstdint>

namespace sdk::transport {

class ReplayWindow {
public:
    static constexpr std::uint64_t span = 1984; // 31 full blocks behind the newest

    // True when the counter is new: not seen and not too old.
    bool isFresh(std::uint64_t counter) const;
    // Records a counter that passed authentication.
    void accept(std::uint64_t counter);

private:
    static constexpr std::size_t blockCount = 32;
    std::array<std::uint64_t, blockCount> blocks{};
    std::uint64_t newest = 0;
    bool any = false;
};

} // namespace sdk::transport
