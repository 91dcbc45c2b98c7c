#include "platform/LastError.h"

namespace {
thread_local std::uint32_t threadLastError = 0;
}

std::uint32_t lastError() {
    return threadLastError;
}

void setLastError(std::uint32_t code) {
    threadLastError = code;
}
