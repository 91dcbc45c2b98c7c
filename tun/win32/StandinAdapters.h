#pragma once

// The stand-in's adapters: records in this copy of the library's memory,
// found by pool and name. Nothing reaches the system's network: an adapter
// has no interface and lasts until it is deleted or the process ends.

#include "interfaces/WintunTypes.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct StandinSession;

struct StandinAdapter {
    std::wstring pool;
    std::wstring name;
    WintunLuid luid = 0;
    bool deleted = false;
    StandinSession* session = nullptr; // the one session, while it runs
};

// What a caller holds: each Create, Open and enumeration gives a handle of
// its own, released with WintunFreeAdapter.
struct WintunAdapterRecord {
    std::shared_ptr<StandinAdapter> adapter;
};

// Names as Wintun takes them: 1 to 127 characters, no control characters.
bool validAdapterName(const WintunWchar* name);

class StandinAdapters {
public:
    // Null with the Windows error code set when the name is invalid or the
    // pool already has an adapter of that name.
    WintunAdapterHandle create(const WintunWchar* pool, const WintunWchar* name);
    WintunAdapterHandle open(const WintunWchar* pool, const WintunWchar* name);
    // Fails with ERROR_BUSY while a session runs, unless forced: then the
    // session is closed (its calls fail from then on) but stays valid until
    // it is ended.
    bool remove(WintunAdapterHandle handle, bool forceCloseSessions);
    // Handles to the pool's adapters at the time of the call.
    std::vector<std::shared_ptr<StandinAdapter>> inPool(const WintunWchar* pool);

    std::mutex lock; // guards the list and every adapter's fields

private:
    std::vector<std::shared_ptr<StandinAdapter>> adapters;
    std::uint32_t nextIndex = 1;
};

// The one registry of this copy of the library.
StandinAdapters& standinAdapters();

// The LUID a new adapter gets. Under Wine it is the loopback interface's, so
// that the program's address step runs as far as Wine allows (Wine's address
// calls change nothing); on Windows it names no interface, so a stand-in
// never puts an address on a real one.
WintunLuid standinLuid(std::uint32_t index);
