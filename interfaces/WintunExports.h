#pragma once

// The 18 entry points our adapter libraries export, with the Wintun 0.10
// signatures: the Linux library in tun/ (failures set errno, its "last
// error") and the Windows stand-in in tun/win32/ (failures set the thread's
// Windows error code; its exports are listed in a .def file). Failures are
// logged through WintunSetLogger's callback. The reboot flag is never set:
// nothing here needs a reboot.

#include "interfaces/WintunTypes.h"

#ifdef _WIN32
#define WINTUN_EXPORT
#else
#define WINTUN_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
WINTUN_EXPORT WintunCreateAdapterFunc WintunCreateAdapter;
WINTUN_EXPORT WintunDeleteAdapterFunc WintunDeleteAdapter;
WINTUN_EXPORT WintunDeletePoolDriverFunc WintunDeletePoolDriver;
WINTUN_EXPORT WintunEnumAdaptersFunc WintunEnumAdapters;
WINTUN_EXPORT WintunFreeAdapterFunc WintunFreeAdapter;
WINTUN_EXPORT WintunOpenAdapterFunc WintunOpenAdapter;
WINTUN_EXPORT WintunGetAdapterLuidFunc WintunGetAdapterLUID;
WINTUN_EXPORT WintunGetAdapterNameFunc WintunGetAdapterName;
WINTUN_EXPORT WintunSetAdapterNameFunc WintunSetAdapterName;
WINTUN_EXPORT WintunGetRunningDriverVersionFunc WintunGetRunningDriverVersion;
WINTUN_EXPORT WintunSetLoggerFunc WintunSetLogger;
WINTUN_EXPORT WintunStartSessionFunc WintunStartSession;
WINTUN_EXPORT WintunEndSessionFunc WintunEndSession;
WINTUN_EXPORT WintunGetReadWaitEventFunc WintunGetReadWaitEvent;
WINTUN_EXPORT WintunReceivePacketFunc WintunReceivePacket;
WINTUN_EXPORT WintunReleaseReceivePacketFunc WintunReleaseReceivePacket;
WINTUN_EXPORT WintunAllocateSendPacketFunc WintunAllocateSendPacket;
WINTUN_EXPORT WintunSendPacketFunc WintunSendPacket;

// The Linux library's own, beyond the 18 (WintunTypes.h).
WINTUN_EXPORT VaskorSetAdapterMtuFunc VaskorSetAdapterMtu;
WINTUN_EXPORT VaskorAddAdapterAddressFunc VaskorAddAdapterAddress;
WINTUN_EXPORT VaskorRemoveAdapterAddressFunc VaskorRemoveAdapterAddress;
WINTUN_EXPORT VaskorMarkAdapterPrivateFunc VaskorMarkAdapterPrivate;
}
