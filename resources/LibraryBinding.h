#pragma once

#include "interfaces/DiscordCreate.h"
#include "interfaces/WintunTypes.h"
#include "resources/InMemoryLibrary.h"

// The 18 Wintun entry points, in binding order; null until the first binding.
struct WintunApiTable {
    WintunCreateAdapterFunc* createAdapter;
    WintunDeleteAdapterFunc* deleteAdapter;
    WintunDeletePoolDriverFunc* deletePoolDriver;
    WintunEnumAdaptersFunc* enumAdapters;
    WintunFreeAdapterFunc* freeAdapter;
    WintunOpenAdapterFunc* openAdapter;
    WintunGetAdapterLuidFunc* getAdapterLuid;
    WintunGetAdapterNameFunc* getAdapterName;
    WintunSetAdapterNameFunc* setAdapterName;
    WintunGetRunningDriverVersionFunc* getRunningDriverVersion;
    WintunSetLoggerFunc* setLogger;
    WintunStartSessionFunc* startSession;
    WintunEndSessionFunc* endSession;
    WintunGetReadWaitEventFunc* getReadWaitEvent;
    WintunReceivePacketFunc* receivePacket;
    WintunReleaseReceivePacketFunc* releaseReceivePacket;
    WintunAllocateSendPacketFunc* allocateSendPacket;
    WintunSendPacketFunc* sendPacket;
};

// The process's table, filled by bindWintunApi.
extern WintunApiTable WintunApi;

// Our Linux library's own configuration entry points (WintunTypes.h), each
// null where the library has none: the vendor's Wintun, the test fakes.
struct AdapterSettingsEntries {
    VaskorSetAdapterMtuFunc* setMtu = nullptr;
    VaskorAddAdapterAddressFunc* addAddress = nullptr;
    VaskorRemoveAdapterAddressFunc* removeAddress = nullptr;
    VaskorMarkAdapterPrivateFunc* markPrivate = nullptr;

    bool complete() const { return setMtu && addAddress && removeAddress && markPrivate; }
};

// The entries a library mapped by bindWintunApi has; all or none are used.
AdapterSettingsEntries bindAdapterSettings(InMemoryLibrary* library);

// Maps a fresh copy of the embedded "wintun.dll" and binds all 18 entry points.
// Returns the library handle, or null with the thread's last-error code set.
InMemoryLibrary* bindWintunApi();
