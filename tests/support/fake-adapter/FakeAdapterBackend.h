#pragma once

// What the fake adapter library's entry points call. Every run maps its own
// copy of the library, and the process's one entry table points at the copy
// mapped last, so no copy keeps any state: each entry point finds the test
// program's hub (FakeAdapterHub.h) through the C function below and forwards
// to it. Failures return null or false with errno set, as our Linux library's.

#include "interfaces/WintunTypes.h"

#include <cstdint>

class FakeAdapterBackend {
public:
    virtual WintunAdapterHandle createAdapter(const WintunWchar* pool, const WintunWchar* name) = 0;
    virtual WintunAdapterHandle openAdapter(const WintunWchar* pool, const WintunWchar* name) = 0;
    virtual bool deleteAdapter(WintunAdapterHandle adapter, bool forceCloseSessions) = 0;
    virtual bool deletePool(const WintunWchar* pool) = 0;
    virtual bool enumAdapters(const WintunWchar* pool, WintunEnumCallback callback,
                              WintunLParam param) = 0;
    virtual void freeAdapter(WintunAdapterHandle adapter) = 0;
    virtual WintunLuid luidOf(WintunAdapterHandle adapter) = 0;
    // name: wintunMaxAdapterName wide characters.
    virtual bool nameOf(WintunAdapterHandle adapter, WintunWchar* name) = 0;
    virtual bool rename(WintunAdapterHandle adapter, const WintunWchar* name) = 0;

    virtual WintunSessionHandle startSession(WintunAdapterHandle adapter,
                                             std::uint32_t capacity) = 0;
    virtual void endSession(WintunSessionHandle session) = 0;
    virtual int readWaitDescriptor(WintunSessionHandle session) = 0;
    virtual std::uint8_t* receive(WintunSessionHandle session, std::uint32_t& size) = 0;
    virtual void releaseReceived(WintunSessionHandle session, const std::uint8_t* packet) = 0;
    virtual std::uint8_t* allocateSend(WintunSessionHandle session, std::uint32_t size) = 0;
    virtual void send(WintunSessionHandle session, const std::uint8_t* packet) = 0;

protected:
    ~FakeAdapterBackend() = default;
};

// Exported by the test program (ENABLE_EXPORTS); the hub alive now, or null.
inline constexpr const char* fakeAdapterHubSymbol = "vaskorFakeAdapterHub";
using FakeAdapterHubFunction = FakeAdapterBackend*();
