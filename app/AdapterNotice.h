#pragma once

#include <string_view>

// What the program says on standard error when it starts about the adapter
// library it carries: nothing for a real one. A Windows build without the
// Wintun driver's wintun.dll carries the stand-in (VASKOR_STANDIN_ADAPTER),
// which nobody may take for a working adapter.
#if VASKOR_STANDIN_ADAPTER
inline constexpr std::string_view adapterNotice =
    "vaskor-vpn: this build carries the stand-in adapter library, not the Wintun driver's "
    "wintun.dll: packets stay in memory and no real network is made. Build it with "
    "VASKOR_WINTUN_DLL naming the driver's wintun.dll for a working program.";
#else
inline constexpr std::string_view adapterNotice;
#endif
