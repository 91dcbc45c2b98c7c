#pragma once

// The 18 entry points our Linux Wintun library exports, with the Wintun 0.10
// signatures. Failures return null or FALSE with errno set (an errno value is
// this library's "last error") and are logged through WintunSetLogger's callback.
// The reboot flag is never set: nothing here needs a reboot.

#include "interfaces/WintunTypes.h"

#define WINTUN_EXPORT __attribute__((visibility("default")))

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
}
