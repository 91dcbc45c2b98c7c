#include "adapter/VirtualAdapter.h"

#include "adapter/WintunAdapter.h"

VirtualAdapter::VirtualAdapter() : adapter(std::make_shared<WintunAdapter>()) {}

VirtualAdapter::~VirtualAdapter() = default;
VirtualAdapter::VirtualAdapter(VirtualAdapter&&) noexcept = default;
VirtualAdapter& VirtualAdapter::operator=(VirtualAdapter&&) noexcept = default;

// A moved-from VirtualAdapter has no adapter: it receives and sends nothing.
std::vector<std::uint8_t> VirtualAdapter::receive() {
    std::shared_ptr<WintunAdapter> strong = adapter;
    return strong ? strong->receive() : std::vector<std::uint8_t>{};
}

void* VirtualAdapter::readWaitHandle() const {
    return adapter ? adapter->readWaitHandle() : nullptr;
}

void VirtualAdapter::send(const std::vector<std::uint8_t>& packet) {
    if (std::shared_ptr<WintunAdapter> strong = adapter)
        strong->send(packet);
}

void VirtualAdapter::setAddress(const Ipv4Cidr& address) {
    if (std::shared_ptr<WintunAdapter> strong = adapter)
        strong->setAddress(address);
}
