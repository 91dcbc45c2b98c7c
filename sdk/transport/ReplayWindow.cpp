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
    if (!any || counter > newest)
        return true;
    if (newest - counter > span)
        return false;
    return (blocks[blockOf(counter) % blockCount] & bitOf(counter)) == 0;
}

void ReplayWindow::accept(std::uint64_t counter) {
    if (!isFresh(counter))
        return;
    if (!any || counter > newest) {
        const std::uint64_t from = any ? blockOf(newest) : blockOf(counter) - 1;
        const std::uint64_t to = blockOf(counter);
        if (!any || to - from >= blockCount)
            blocks.fill(0);
        else
            for (std::uint64_t block = from + 1; block <= to; ++block)
                blocks[block % blockCount] = 0;
        newest = counter;
        any = true;
    }
    blocks[blockOf(counter) % blockCount] |= bitOf(counter);
}

} // namespace sdk::transport
