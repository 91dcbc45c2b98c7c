#include "platform/Memory.h"

#include <windows.h>

std::size_t memoryPageSize() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
}

void* reserveAndCommitPages(void* preferred, std::size_t size) {
    void* block = VirtualAlloc(preferred, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (block && preferred && block != preferred) { // rounded down to the allocation granularity
        VirtualFree(block, 0, MEM_RELEASE);
        return nullptr;
    }
    return block;
}

bool commitPages(void* address, std::size_t size) {
    return VirtualAlloc(address, size, MEM_COMMIT, PAGE_READWRITE) != nullptr;
}

bool protectPages(void* address, std::size_t size, std::uint32_t protection) {
    DWORD previous = 0;
    return VirtualProtect(address, size, protection, &previous) != FALSE;
}

bool decommitPages(void* address, std::size_t size) {
    return VirtualFree(address, size, MEM_DECOMMIT) != FALSE;
}

void releasePages(void* block, std::size_t) {
    if (block)
        VirtualFree(block, 0, MEM_RELEASE);
}
