#pragma once

#include <string_view>

// What the program says when it starts about the adapter library it carries:
// nothing for a real one. A Windows build without the Wintun driver's
// wintun.dll carries the stand-in (VASKOR_STANDIN_ADAPTER), which nobody may
// take for a working adapter: such a build is a test build, and says so on
// standard error and, for a person who started it from the Start menu, in a
// box over the window.
#if VASKOR_STANDIN_ADAPTER
inline constexpr std::string_view adapterNotice =
    "vaskor-vpn: this build carries the stand-in adapter library, not the Wintun driver's "
    "wintun.dll: packets stay in memory and no real network is made. Build it with "
    "VASKOR_WINTUN_DLL naming the driver's wintun.dll for a working program.";
inline constexpr std::string_view testBuildNotice =
    "This is a test build of Vaskor VPN. It cannot carry any traffic: it has no network "
    "driver, so it never reaches another computer.\n\n"
    "To use Vaskor VPN, install a release build (its installer's name does not end in "
    "\"-test\").";
#else
inline constexpr std::string_view adapterNotice;
inline constexpr std::string_view testBuildNotice;
#endif
