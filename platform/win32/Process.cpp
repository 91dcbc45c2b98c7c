#include "platform/Process.h"

#include <windows.h>

bool isWow64Process() {
    BOOL flag = FALSE;
    IsWow64Process(GetCurrentProcess(), &flag); // only the flag decides
    return flag != FALSE;
}

void keepCapabilitiesFromChildren() {}
