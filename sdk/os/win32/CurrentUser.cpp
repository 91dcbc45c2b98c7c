#include "sdk/os/CurrentUser.h"

#include "sdk/os/win32/Text.h"

#include <windows.h>

#include <cstdlib>

namespace sdk::os {

std::string loginName() {
    wchar_t name[257] = {}; // UNLEN + 1
    DWORD size = sizeof name / sizeof name[0];
    if (GetUserNameW(name, &size) && size > 1)
        return win32::utf8Of(name, size - 1);
    if (const char* user = std::getenv("USERNAME"); user && *user)
        return user;
    return "user";
}

} // namespace sdk::os
