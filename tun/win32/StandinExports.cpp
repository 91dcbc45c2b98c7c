// The 18 entry points of the stand-in adapter library (exported through
// wintun.def). Failures return null or FALSE with the Windows error code as
// the thread's last error, and a line to the WintunSetLogger callback.

#include "interfaces/WintunExports.h"
#include "tun/win32/StandinAdapters.h"
#include "tun/win32/StandinSession.h"

#include <atomic>
#include <cstring>

namespace {

std::atomic<WintunLoggerCallback> logger{nullptr};

void logFailure(const wchar_t* what) {
    const DWORD error = GetLastError();
    if (WintunLoggerCallback callback = logger.load())
        callback(WintunLogErr, what);
    SetLastError(error);
}

void noReboot(WintunBool* rebootRequired) {
    if (rebootRequired != nullptr)
        *rebootRequired = FALSE;
}

} // namespace

extern "C" {

WintunAdapterHandle WINTUN_CALL WintunCreateAdapter(const WintunWchar* pool,
                                                    const WintunWchar* name, const WintunGuid*,
                                                    WintunBool* rebootRequired) {
    noReboot(rebootRequired);
    if (WintunLoggerCallback callback = logger.load())
        callback(WintunLogWarn, L"Stand-in adapter library: packets stay in memory, "
                                L"no network adapter is created");
    WintunAdapterHandle adapter = standinAdapters().create(pool, name);
    if (adapter == nullptr)
        logFailure(L"Failed to create adapter");
    return adapter;
}

WintunBool WINTUN_CALL WintunDeleteAdapter(WintunAdapterHandle adapter,
                                           WintunBool forceCloseSessions,
                                           WintunBool* rebootRequired) {
    noReboot(rebootRequired);
    if (!standinAdapters().remove(adapter, forceCloseSessions != FALSE)) {
        logFailure(L"Failed to delete adapter");
        return FALSE;
    }
    return TRUE;
}

WintunBool WINTUN_CALL WintunDeletePoolDriver(const WintunWchar* pool, WintunBool* rebootRequired) {
    noReboot(rebootRequired);
    if (!validAdapterName(pool)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        logFailure(L"Invalid pool name");
        return FALSE;
    }
    for (const auto& adapter : standinAdapters().inPool(pool)) {
        WintunAdapterRecord handle{adapter};
        standinAdapters().remove(&handle, true);
    }
    return TRUE;
}

WintunBool WINTUN_CALL WintunEnumAdapters(const WintunWchar* pool, WintunEnumCallback callback,
                                          WintunLParam param) {
    if (!validAdapterName(pool) || callback == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        logFailure(L"Invalid pool name or callback");
        return FALSE;
    }
    // Each handle is valid during its callback only; a FALSE result stops the walk.
    for (const auto& adapter : standinAdapters().inPool(pool)) {
        WintunAdapterRecord handle{adapter};
        if (!callback(&handle, param))
            break;
    }
    return TRUE;
}

void WINTUN_CALL WintunFreeAdapter(WintunAdapterHandle adapter) {
    delete adapter;
}

WintunAdapterHandle WINTUN_CALL WintunOpenAdapter(const WintunWchar* pool,
                                                  const WintunWchar* name) {
    return standinAdapters().open(pool, name);
}

void WINTUN_CALL WintunGetAdapterLUID(WintunAdapterHandle adapter, WintunLuid* luid) {
    std::lock_guard<std::mutex> hold(standinAdapters().lock);
    *luid = adapter->adapter->luid;
}

WintunBool WINTUN_CALL WintunGetAdapterName(WintunAdapterHandle adapter, WintunWchar* name) {
    std::lock_guard<std::mutex> hold(standinAdapters().lock);
    const std::wstring& current = adapter->adapter->name;
    std::memcpy(name, current.c_str(), (current.size() + 1) * sizeof(WintunWchar));
    return TRUE;
}

WintunBool WINTUN_CALL WintunSetAdapterName(WintunAdapterHandle adapter, const WintunWchar* name) {
    if (!validAdapterName(name)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        logFailure(L"Invalid adapter name");
        return FALSE;
    }
    try {
        std::lock_guard<std::mutex> hold(standinAdapters().lock);
        adapter->adapter->name = name;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return TRUE;
}

// There is no driver behind the stand-in.
WintunDword WINTUN_CALL WintunGetRunningDriverVersion(void) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
}

void WINTUN_CALL WintunSetLogger(WintunLoggerCallback callback) {
    logger.store(callback);
}

WintunSessionHandle WINTUN_CALL WintunStartSession(WintunAdapterHandle adapter,
                                                   WintunDword capacity) {
    WintunSessionHandle session = startStandinSession(adapter, capacity);
    if (session == nullptr)
        logFailure(L"Failed to start session");
    return session;
}

void WINTUN_CALL WintunEndSession(WintunSessionHandle session) {
    endStandinSession(session);
}

WintunHandle WINTUN_CALL WintunGetReadWaitEvent(WintunSessionHandle session) {
    return session->readWaitEvent();
}

std::uint8_t* WINTUN_CALL WintunReceivePacket(WintunSessionHandle session,
                                              WintunDword* packetSize) {
    std::uint32_t size = 0;
    std::uint8_t* packet = session->receive(size);
    if (packet != nullptr)
        *packetSize = size;
    return packet;
}

void WINTUN_CALL WintunReleaseReceivePacket(WintunSessionHandle session,
                                            const std::uint8_t* packet) {
    session->releaseReceived(packet);
}

std::uint8_t* WINTUN_CALL WintunAllocateSendPacket(WintunSessionHandle session,
                                                   WintunDword packetSize) {
    return session->allocateSend(packetSize);
}

void WINTUN_CALL WintunSendPacket(WintunSessionHandle session, const std::uint8_t* packet) {
    session->send(packet);
}

} // extern "C"
