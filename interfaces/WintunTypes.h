#pragma once

// The Wintun 0.10 (adapter pool) calling interface, as both the Windows
// library and our Linux library in tun/ export it. Names are 16-bit wide strings.

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#define WINTUN_CALL __stdcall
using WintunBool = BOOL;
using WintunDword = DWORD;
using WintunWchar = WCHAR;
using WintunHandle = HANDLE;
using WintunGuid = GUID;
using WintunLParam = LPARAM;
#else
#include <cerrno>
#define WINTUN_CALL
using WintunBool = std::int32_t;
using WintunDword = std::uint32_t;
using WintunWchar = char16_t;
using WintunHandle = void*; // on Linux: a pollable file descriptor, cast from intptr_t
struct WintunGuid {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];
};
using WintunLParam = std::intptr_t;
#endif

using WintunAdapterHandle = struct WintunAdapterRecord*;
using WintunSessionHandle = struct WintunSessionRecord*;
using WintunLuid = std::uint64_t; // NET_LUID; on Linux it carries the interface index

enum WintunLoggerLevel : std::int32_t { WintunLogInfo, WintunLogWarn, WintunLogErr };

constexpr std::uint32_t wintunMaxAdapterName = 128; // wide characters, with the NUL
constexpr std::uint32_t wintunMinRingCapacity = 0x20000;
constexpr std::uint32_t wintunMaxRingCapacity = 0x4000000;
constexpr std::uint32_t wintunMaxIpPacketSize = 0xFFFF;

// How WintunReceivePacket fails once the adapter is gone (deleted under its
// session, by anyone): no packet will ever come, and the session is over.
// Wintun's ERROR_HANDLE_EOF on Windows; on Linux our library sets errno.
#ifdef _WIN32
constexpr std::uint32_t wintunAdapterGone = ERROR_HANDLE_EOF;
#else
constexpr int wintunAdapterGone = ENODEV;
#endif

// Why our Linux library could not create an adapter through its adapter
// helper, the small program that holds CAP_NET_ADMIN for a process without it:
// its own last-error values, above every errno value, so that the program
// can tell a person what to do. No Windows library sets them.
constexpr std::uint32_t wintunHelperMissing = 30001;      // not installed
constexpr std::uint32_t wintunHelperNotAllowed = 30002;   // the user may not start it
constexpr std::uint32_t wintunHelperUnprivileged = 30003; // it holds no CAP_NET_ADMIN

// The last error of a failed library call, as the library set it; cleared
// before a call whose failure is read, so that a library that sets nothing
// leaves no stale value.
inline std::uint32_t wintunLastError() {
#ifdef _WIN32
    return GetLastError();
#else
    return static_cast<std::uint32_t>(errno);
#endif
}

inline void clearWintunLastError() {
#ifdef _WIN32
    SetLastError(0);
#else
    errno = 0;
#endif
}

extern "C" {
using WintunEnumCallback = WintunBool(WINTUN_CALL*)(WintunAdapterHandle adapter,
                                                    WintunLParam param);
using WintunLoggerCallback = void(WINTUN_CALL*)(WintunLoggerLevel level,
                                                const WintunWchar* message);

using WintunCreateAdapterFunc = WintunAdapterHandle WINTUN_CALL(const WintunWchar* pool,
                                                                const WintunWchar* name,
                                                                const WintunGuid* requestedGuid,
                                                                WintunBool* rebootRequired);
using WintunDeleteAdapterFunc = WintunBool
WINTUN_CALL(WintunAdapterHandle adapter, WintunBool forceCloseSessions, WintunBool* rebootRequired);
using WintunDeletePoolDriverFunc = WintunBool WINTUN_CALL(const WintunWchar* pool,
                                                          WintunBool* rebootRequired);
using WintunEnumAdaptersFunc = WintunBool
WINTUN_CALL(const WintunWchar* pool, WintunEnumCallback callback, WintunLParam param);
using WintunFreeAdapterFunc = void WINTUN_CALL(WintunAdapterHandle adapter);
using WintunOpenAdapterFunc = WintunAdapterHandle WINTUN_CALL(const WintunWchar* pool,
                                                              const WintunWchar* name);
using WintunGetAdapterLuidFunc = void WINTUN_CALL(WintunAdapterHandle adapter, WintunLuid* luid);
// name: a buffer of wintunMaxAdapterName wide characters
using WintunGetAdapterNameFunc = WintunBool WINTUN_CALL(WintunAdapterHandle adapter,
                                                        WintunWchar* name);
using WintunSetAdapterNameFunc = WintunBool WINTUN_CALL(WintunAdapterHandle adapter,
                                                        const WintunWchar* name);
using WintunGetRunningDriverVersionFunc = WintunDword WINTUN_CALL(void);
using WintunSetLoggerFunc = void WINTUN_CALL(WintunLoggerCallback callback);
using WintunStartSessionFunc = WintunSessionHandle WINTUN_CALL(WintunAdapterHandle adapter,
                                                               WintunDword capacity);
using WintunEndSessionFunc = void WINTUN_CALL(WintunSessionHandle session);
using WintunGetReadWaitEventFunc = WintunHandle WINTUN_CALL(WintunSessionHandle session);
using WintunReceivePacketFunc = std::uint8_t* WINTUN_CALL(WintunSessionHandle session,
                                                          WintunDword* packetSize);
using WintunReleaseReceivePacketFunc = void WINTUN_CALL(WintunSessionHandle session,
                                                        const std::uint8_t* packet);
using WintunAllocateSendPacketFunc = std::uint8_t* WINTUN_CALL(WintunSessionHandle session,
                                                               WintunDword packetSize);
using WintunSendPacketFunc = void WINTUN_CALL(WintunSessionHandle session,
                                              const std::uint8_t* packet);

// Our Linux library's own entry points beyond Wintun's: it configures the
// adapters it made, itself or through its adapter helper. Wintun itself has
// none of them (Windows configures adapters through the IP Helper), so the
// program binds them where they exist and else configures the adapter itself.
// Each returns FALSE with the last error set. Addresses and masks are in
// network byte order; an adapter holds one address at a time.
using VaskorSetAdapterMtuFunc = WintunBool WINTUN_CALL(WintunAdapterHandle adapter,
                                                       WintunDword mtu);
using VaskorAddAdapterAddressFunc = WintunBool
WINTUN_CALL(WintunAdapterHandle adapter, std::uint32_t address, std::uint32_t mask);
using VaskorRemoveAdapterAddressFunc = WintunBool WINTUN_CALL(WintunAdapterHandle adapter,
                                                              std::uint32_t address);
using VaskorMarkAdapterPrivateFunc = void WINTUN_CALL(WintunAdapterHandle adapter);
}
