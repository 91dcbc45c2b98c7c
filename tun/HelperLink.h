#pragma once

// The library's end of the adapter helper (helper/): a process without
// CAP_NET_ADMIN has the helper create its adapter's interface and change it.
// The helper is our child, connected by a socket pair; it removes the
// interface when asked or when our end closes, so the adapter never outlives
// this process.

#include "tun/Adapters.h"
#include "tun/HelperProtocol.h"
#include "tun/UniqueDescriptor.h"

#include <memory>
#include <mutex>
#include <sys/types.h>

// True when the calling thread may change interfaces itself.
bool holdsNetworkAdmin();

class HelperLink {
public:
    // Starts the helper and has it create the adapter's interface. Returns 0,
    // an errno value, or wintunHelperMissing, wintunHelperNotAllowed,
    // wintunHelperUnprivileged.
    static int createAdapter(const AdapterIdentity& identity,
                             std::unique_ptr<WintunAdapterRecord>& created);

    // Closes our end (the helper removes the interface and ends) and reaps it.
    ~HelperLink();
    HelperLink(const HelperLink&) = delete;
    HelperLink& operator=(const HelperLink&) = delete;

    // One request about our interface. Returns 0 or the helper's errno value;
    // the helper's text goes to the log.
    int request(HelperInterfaceRequest request);

    // A non-blocking descriptor of the interface's queue for a session, with
    // the interface brought up. EBUSY while another session holds it.
    int startSession(UniqueDescriptor& session);
    void endSession();

    // EBUSY without forceCloseSessions while a session holds the queue.
    int removeAdapter(bool forceCloseSessions);

private:
    HelperLink(pid_t child, UniqueDescriptor socket);
    int exchange(const std::vector<std::uint8_t>& message, HelperReply& reply,
                 UniqueDescriptor* received);

    std::mutex lock; // one request at a time, and the fields below
    pid_t child;
    UniqueDescriptor socket;
    UniqueDescriptor queue; // the interface's one queue, handed over by the helper
    std::string interfaceName;
    bool sessionOpen = false;
};
