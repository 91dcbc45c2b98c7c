#pragma once

#include "adapter/AdapterRemoved.h"
#include "adapter/Ipv4Cidr.h"

#include <cstdint>
#include <memory>
#include <vector>

class WintunAdapter;

// The engine's handle to the virtual adapter. Each operation keeps the
// WintunAdapter alive for its own length.
class VirtualAdapter {
public:
    // Every exception of the WintunAdapter constructor passes through unchanged.
    VirtualAdapter();
    ~VirtualAdapter();
    VirtualAdapter(VirtualAdapter&&) noexcept;
    VirtualAdapter& operator=(VirtualAdapter&&) noexcept;

    // Throws AdapterRemoved once the adapter is gone.
    std::vector<std::uint8_t> receive();
    void send(const std::vector<std::uint8_t>& packet);
    // Ready while a packet waits for receive (the adapter's read-wait handle,
    // a HANDLE); null without an adapter.
    void* readWaitHandle() const;
    void setAddress(const Ipv4Cidr& address);

private:
    std::shared_ptr<WintunAdapter> adapter;
};
