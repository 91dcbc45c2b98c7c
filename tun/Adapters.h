#pragma once

// Adapters as persistent TUN interfaces whose alias keeps the pool and the
// adapter name. Every operation returns 0 or an errno value.

#include "platform/linux/AdapterAlias.h"
#include "tun/QueueSetup.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct WintunAdapterRecord {
    AdapterIdentity identity;
    std::string interfaceName;
    std::uint32_t index = 0;
};

int createAdapter(const AdapterIdentity& identity, std::unique_ptr<WintunAdapterRecord>& created);

// Our adapters in the calling thread's network namespace, of every pool.
int listAdapters(std::vector<WintunAdapterRecord>& adapters);

// ENODEV when the record's interface is gone or is no longer this adapter.
int checkAdapter(const WintunAdapterRecord& adapter);

// Without forceCloseSessions, fails with EBUSY while a session is attached.
int deleteAdapter(const WintunAdapterRecord& adapter, bool forceCloseSessions);

// The name the interface's alias holds now (another handle may have renamed it).
int readAdapterName(const WintunAdapterRecord& adapter, std::u16string& name);

int renameAdapter(WintunAdapterRecord& adapter, const std::u16string& name);
