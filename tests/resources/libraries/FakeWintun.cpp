// A stand-in for the Wintun library: the 18 entry points, each of which
// records its slot number, so a test can tell that a slot holds the right
// entry. Built once with all of them and once without entry OMITTED_ENTRY.

#include "interfaces/WintunTypes.h"

namespace {
int lastCalled = 0;
}

extern "C" {

__attribute__((visibility("default"))) int FakeWintunLastCalled() {
    return lastCalled;
}

#define FAKE_ENTRY(number, name, result, ...)                                                      \
    __attribute__((visibility("default"))) result name(__VA_ARGS__) {                              \
        lastCalled = number;                                                                       \
        using Result = result;                                                                     \
        return Result();                                                                           \
    }

#if OMITTED_ENTRY != 1
FAKE_ENTRY(1, WintunCreateAdapter, WintunAdapterHandle, const WintunWchar*, const WintunWchar*,
           const WintunGuid*, WintunBool*)
#endif
#if OMITTED_ENTRY != 2
FAKE_ENTRY(2, WintunDeleteAdapter, WintunBool, WintunAdapterHandle, WintunBool, WintunBool*)
#endif
#if OMITTED_ENTRY != 3
FAKE_ENTRY(3, WintunDeletePoolDriver, WintunBool, const WintunWchar*, WintunBool*)
#endif
#if OMITTED_ENTRY != 4
FAKE_ENTRY(4, WintunEnumAdapters, WintunBool, const WintunWchar*, WintunEnumCallback, WintunLParam)
#endif
#if OMITTED_ENTRY != 5
FAKE_ENTRY(5, WintunFreeAdapter, void, WintunAdapterHandle)
#endif
#if OMITTED_ENTRY != 6
FAKE_ENTRY(6, WintunOpenAdapter, WintunAdapterHandle, const WintunWchar*, const WintunWchar*)
#endif
#if OMITTED_ENTRY != 7
FAKE_ENTRY(7, WintunGetAdapterLUID, void, WintunAdapterHandle, WintunLuid*)
#endif
#if OMITTED_ENTRY != 8
FAKE_ENTRY(8, WintunGetAdapterName, WintunBool, WintunAdapterHandle, WintunWchar*)
#endif
#if OMITTED_ENTRY != 9
FAKE_ENTRY(9, WintunSetAdapterName, WintunBool, WintunAdapterHandle, const WintunWchar*)
#endif
#if OMITTED_ENTRY != 10
FAKE_ENTRY(10, WintunGetRunningDriverVersion, WintunDword, void)
#endif
#if OMITTED_ENTRY != 11
FAKE_ENTRY(11, WintunSetLogger, void, WintunLoggerCallback)
#endif
#if OMITTED_ENTRY != 12
FAKE_ENTRY(12, WintunStartSession, WintunSessionHandle, WintunAdapterHandle, WintunDword)
#endif
#if OMITTED_ENTRY != 13
FAKE_ENTRY(13, WintunEndSession, void, WintunSessionHandle)
#endif
#if OMITTED_ENTRY != 14
FAKE_ENTRY(14, WintunGetReadWaitEvent, WintunHandle, WintunSessionHandle)
#endif
#if OMITTED_ENTRY != 15
FAKE_ENTRY(15, WintunReceivePacket, std::uint8_t*, WintunSessionHandle, WintunDword*)
#endif
#if OMITTED_ENTRY != 16
FAKE_ENTRY(16, WintunReleaseReceivePacket, void, WintunSessionHandle, const std::uint8_t*)
#endif
#if OMITTED_ENTRY != 17
FAKE_ENTRY(17, WintunAllocateSendPacket, std::uint8_t*, WintunSessionHandle, WintunDword)
#endif
#if OMITTED_ENTRY != 18
FAKE_ENTRY(18, WintunSendPacket, void, WintunSessionHandle, const std::uint8_t*)
#endif
}
