#include "platform/LastError.h"

#include <windows.h>

std::uint32_t lastError() {
    return GetLastError();
}

void setLastError(std::uint32_t code) {
    SetLastError(code);
}
