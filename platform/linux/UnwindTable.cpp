#include "platform/UnwindTable.h"

// Linux's unwinder reads ELF unwind data only; a PE image's table means
// nothing to it. The PE images mapped here are freestanding test images
// that throw nothing, so there is nothing to register.
bool registerUnwindTable(void*, std::uint32_t, void*) {
    return true;
}

void unregisterUnwindTable(void*) {}
