#include "platform/Memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace {

int protectionFlags(std::uint32_t protection) {
    switch (protection & 0xFF) {
    case pageReadOnly:
        return PROT_READ;
    case pageReadWrite:
    case pageWriteCopy:
        return PROT_READ | PROT_WRITE;
    case pageExecute:
        return PROT_EXEC;
    case pageExecuteRead:
        return PROT_READ | PROT_EXEC;
    case pageExecuteReadWrite:
    case pageExecuteWriteCopy:
        return PROT_READ | PROT_WRITE | PROT_EXEC;
    default:
        return PROT_NONE;
    }
}

// Widens [address, address + size) to whole pages, as the Windows calls do.
struct PageRange {
    void* start;
    std::size_t length;
};

PageRange wholePages(void* address, std::size_t size) {
    const auto page = static_cast<std::uintptr_t>(memoryPageSize());
    const auto first = reinterpret_cast<std::uintptr_t>(address) & ~(page - 1);
    const auto last = reinterpret_cast<std::uintptr_t>(address) + size;
    const auto end = (last + page - 1) & ~(page - 1);
    return {reinterpret_cast<void*>(first), end - first};
}

} // namespace

std::size_t memoryPageSize() {
    static const auto size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return size;
}

void* reserveAndCommitPages(void* preferred, std::size_t size) {
    if (size == 0)
        return nullptr;
    const int flags = MAP_PRIVATE | MAP_ANONYMOUS | (preferred ? MAP_FIXED_NOREPLACE : 0);
    void* block = mmap(preferred, size, PROT_READ | PROT_WRITE, flags, -1, 0);
    if (block == MAP_FAILED)
        return nullptr;
    if (preferred && block != preferred) { // a kernel that took the address as a hint only
        munmap(block, size);
        return nullptr;
    }
    return block;
}

bool commitPages(void* address, std::size_t size) {
    if (size == 0)
        return true;
    auto range = wholePages(address, size);
    return mprotect(range.start, range.length, PROT_READ | PROT_WRITE) == 0;
}

bool protectPages(void* address, std::size_t size, std::uint32_t protection) {
    if (size == 0)
        return false;
    auto range = wholePages(address, size);
    return mprotect(range.start, range.length, protectionFlags(protection)) == 0;
}

bool decommitPages(void* address, std::size_t size) {
    if (size == 0)
        return true;
    auto range = wholePages(address, size);
    // A fresh inaccessible mapping over the range frees the pages and keeps
    // the address range reserved for the block.
    void* replaced = mmap(range.start, range.length, PROT_NONE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED | MAP_NORESERVE, -1, 0);
    return replaced != MAP_FAILED;
}

void releasePages(void* block, std::size_t size) {
    if (block)
        munmap(block, size);
}
