/* A file in the place of the Wintun driver's wintun.dll, for a build given
 * one (VASKOR_WINTUN_DLL): the library's 18 entry points, which do nothing.
 * The window tests never start a run, so none is called. */
#define ENTRY(name) \
    __declspec(dllexport) void* name(void) { return 0; }

ENTRY(WintunCreateAdapter)
ENTRY(WintunDeleteAdapter)
ENTRY(WintunDeletePoolDriver)
ENTRY(WintunEnumAdapters)
ENTRY(WintunFreeAdapter)
ENTRY(WintunOpenAdapter)
ENTRY(WintunGetAdapterLUID)
ENTRY(WintunGetAdapterName)
ENTRY(WintunSetAdapterName)
ENTRY(WintunGetRunningDriverVersion)
ENTRY(WintunSetLogger)
ENTRY(WintunStartSession)
ENTRY(WintunEndSession)
ENTRY(WintunGetReadWaitEvent)
ENTRY(WintunReceivePacket)
ENTRY(WintunReleaseReceivePacket)
ENTRY(WintunAllocateSendPacket)
ENTRY(WintunSendPacket)
