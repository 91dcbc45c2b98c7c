#include "sdk/os/Display.h"

#include <windows.h>

namespace sdk::os {

// A window can be shown when this process's window station is the visible
// one: not in a service's session. No setting says otherwise on Windows.
bool hasDisplay(const SettingLookup&) {
    HWINSTA station = GetProcessWindowStation();
    USEROBJECTFLAGS flags{};
    DWORD size = 0;
    if (!station || !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &size))
        return true; // unknown: trying costs a failed start at worst
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

} // namespace sdk::os
