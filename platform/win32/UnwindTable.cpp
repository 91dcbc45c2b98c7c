#include "platform/UnwindTable.h"

#include <windows.h>

bool registerUnwindTable(void* table, std::uint32_t count, void* imageBase) {
    return RtlAddFunctionTable(static_cast<PRUNTIME_FUNCTION>(table), count,
                               reinterpret_cast<DWORD64>(imageBase)) != FALSE;
}

void unregisterUnwindTable(void* table) {
    RtlDeleteFunctionTable(static_cast<PRUNTIME_FUNCTION>(table));
}
