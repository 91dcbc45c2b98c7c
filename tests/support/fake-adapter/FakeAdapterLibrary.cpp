// The fake adapter library: the 18 Wintun entry points with packets in memory,
// embedded as "wintun.dll" by unit tests that run whole runs in one process.
// Each entry point forwards to the test program's hub (FakeAdapterBackend.h);
// without a hub every call fails with ENODEV.

#include "interfaces/WintunExports.h"
#include "tests/support/fake-adapter/FakeAdapterBackend.h"

#include <dlfcn.h>

#include <cerrno>
#include <cstdint>

namespace {

FakeAdapterBackend* hub() {
    auto* find =
        reinterpret_cast<FakeAdapterHubFunction*>(::dlsym(RTLD_DEFAULT, fakeAdapterHubSymbol));
    FakeAdapterBackend* found = find != nullptr ? find() : nullptr;
    if (found == nullptr)
        errno = ENODEV;
    return found;
}

} // namespace

extern "C" {

WintunAdapterHandle WintunCreateAdapter(const WintunWchar* pool, const WintunWchar* name,
                                        const WintunGuid*, WintunBool* rebootRequired) {
    if (rebootRequired != nullptr)
        *rebootRequired = 0; // nothing here ever needs a reboot
    FakeAdapterBackend* backend = hub();
    return backend != nullptr ? backend->createAdapter(pool, name) : nullptr;
}

WintunBool WintunDeleteAdapter(WintunAdapterHandle adapter, WintunBool forceCloseSessions,
                               WintunBool* rebootRequired) {
    if (rebootRequired != nullptr)
        *rebootRequired = 0;
    FakeAdapterBackend* backend = hub();
    return backend != nullptr && backend->deleteAdapter(adapter, forceCloseSessions != 0) ? 1 : 0;
}

WintunBool WintunDeletePoolDriver(const WintunWchar* pool, WintunBool* rebootRequired) {
    if (rebootRequired != nullptr)
        *rebootRequired = 0;
    FakeAdapterBackend* backend = hub();
    return backend != nullptr && backend->deletePool(pool) ? 1 : 0;
}

WintunBool WintunEnumAdapters(const WintunWchar* pool, WintunEnumCallback callback,
                              WintunLParam param) {
    FakeAdapterBackend* backend = hub();
    return backend != nullptr && backend->enumAdapters(pool, callback, param) ? 1 : 0;
}

void WintunFreeAdapter(WintunAdapterHandle adapter) {
    if (FakeAdapterBackend* backend = hub())
        backend->freeAdapter(adapter);
}

WintunAdapterHandle WintunOpenAdapter(const WintunWchar* pool, const WintunWchar* name) {
    FakeAdapterBackend* backend = hub();
    return backend != nullptr ? backend->openAdapter(pool, name) : nullptr;
}

void WintunGetAdapterLUID(WintunAdapterHandle adapter, WintunLuid* luid) {
    FakeAdapterBackend* backend = hub();
    *luid = backend != nullptr ? backend->luidOf(adapter) : 0;
}

WintunBool WintunGetAdapterName(WintunAdapterHandle adapter, WintunWchar* name) {
    FakeAdapterBackend* backend = hub();
    return backend != nullptr && backend->nameOf(adapter, name) ? 1 : 0;
}

WintunBool WintunSetAdapterName(WintunAdapterHandle adapter, const WintunWchar* name) {
    FakeAdapterBackend* backend = hub();
    return backend != nullptr && backend->rename(adapter, name) ? 1 : 0;
}

WintunDword WintunGetRunningDriverVersion() {
    return 0x00010000; // 1.0
}

// Failures are reported through errno only.
void WintunSetLogger(WintunLoggerCallback) {}

WintunSessionHandle WintunStartSession(WintunAdapterHandle adapter, WintunDword capacity) {
    FakeAdapterBackend* backend = hub();
    return backend != nullptr ? backend->startSession(adapter, capacity) : nullptr;
}

void WintunEndSession(WintunSessionHandle session) {
    if (FakeAdapterBackend* backend = hub())
        backend->endSession(session);
}

WintunHandle WintunGetReadWaitEvent(WintunSessionHandle session) {
    FakeAdapterBackend* backend = hub();
    const int descriptor = backend != nullptr ? backend->readWaitDescriptor(session) : -1;
    return reinterpret_cast<WintunHandle>(static_cast<std::intptr_t>(descriptor));
}

std::uint8_t* WintunReceivePacket(WintunSessionHandle session, WintunDword* packetSize) {
    FakeAdapterBackend* backend = hub();
    std::uint32_t size = 0;
    std::uint8_t* packet = backend != nullptr ? backend->receive(session, size) : nullptr;
    if (packet != nullptr)
        *packetSize = size;
    return packet;
}

void WintunReleaseReceivePacket(WintunSessionHandle session, const std::uint8_t* packet) {
    if (FakeAdapterBackend* backend = hub())
        backend->releaseReceived(session, packet);
}

std::uint8_t* WintunAllocateSendPacket(WintunSessionHandle session, WintunDword packetSize) {
    FakeAdapterBackend* backend = hub();
    return backend != nullptr ? backend->allocateSend(session, packetSize) : nullptr;
}

void WintunSendPacket(WintunSessionHandle session, const std::uint8_t* packet) {
    if (FakeAdapterBackend* backend = hub())
        backend->send(session, packet);
}

} // extern "C"
