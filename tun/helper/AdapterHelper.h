#pragma once

// What the adapter helper does with each request: it creates one adapter's
// interface and afterwards changes that interface alone. A request that names
// another interface, or comes before the creation, changes nothing.

#include "tun/Adapters.h"
#include "tun/HelperProtocol.h"
#include "tun/UniqueDescriptor.h"

#include <memory>

class AdapterHelper {
public:
    AdapterHelper() = default;
    AdapterHelper(const AdapterHelper&) = delete;
    AdapterHelper& operator=(const AdapterHelper&) = delete;
    // Removes the interface it created, if it is still there and still ours.
    ~AdapterHelper();

    // The reply, and after a creation the interface's queue to hand over.
    HelperReply handle(const HelperRequest& request, UniqueDescriptor& handOver);

    // True once the interface was removed on request: the helper's work is done.
    bool finished() const { return removed; }

private:
    HelperReply create(const HelperCreate& request, UniqueDescriptor& handOver);
    HelperReply change(const HelperInterfaceRequest& request);
    void removeInterface();

    std::unique_ptr<WintunAdapterRecord> adapter;
    UniqueDescriptor queue;    // keeps the interface while our parent lives
    std::uint32_t address = 0; // the one address it set, network byte order
    bool removed = false;
};
