#include "sdk/transport/ReplayWindow.h"

namespace sdk::transport {

namespace {
constexpr std::uint64_t blockOf(std::uint64_t counter) {
    return counter / 64;
}
constexpr std::uint64_t bitOf(std::uint64_t counter) {
    return std::uint64_t{1} << (counter % 64);
}
} // namespace

bool ReplayWindow::isFresh(std::uint64_t counter) const {
    if (!any_ || counter > newest_)
        return true;
    if (newest_ - counter > span)
        return false;
    return (blocks_[blockOf(counter) % blockCount] & bitOf(counter)) == 0;
}

void ReplayWindow::accept(std::uint64_t counter) {
    if (!isFresh(counter))
        return;
    if (!any_ || counter > newest_) {
        const std::uint64_t from = any_ ? blockOf(newest_) : blockOf(counter) - 1;
        const std::uint64_t to = blockOf(counter);
        if (!any_ || to - from >= blockCount)
            blocks_.fill(0);
        else
            for (std::uint64_t block = from + 1; block <= to; ++block)
                blocks_[block % blockCount] = 0;
        newest_ = counter;
        any_ = true;
    }
    blocks_[blockOf(counter) % blockCount] |= bitOf(counter);
}

} // namespace sdk::transport
