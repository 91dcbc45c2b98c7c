// The address configuration of the unit-test build that runs whole runs in
// one process: the adapters are the hub's, so no kernel interface exists to
// configure. Linked as object code into the test program, these take the
// place of platform/linux/AddressConfig.cpp, which is then never linked.

#include "platform/AddressConfig.h"
#include "tests/support/fake-adapter/FakeAdapterHub.h"

#include <cerrno>

using testsupport::FakeAdapterHub;

int interfaceIndexOfLuid(std::uint64_t luid, std::uint32_t& index) {
    FakeAdapterHub* hub = FakeAdapterHub::current();
    return hub != nullptr ? hub->interfaceIndexOfLuid(luid, index) : EINVAL;
}

int addInterfaceAddress(std::uint32_t address, std::uint32_t mask, std::uint32_t interfaceIndex,
                        std::uint32_t& context, std::uint32_t& instance) {
    FakeAdapterHub* hub = FakeAdapterHub::current();
    if (hub == nullptr)
        return ENODEV;
    const int result = hub->addAddress(address, mask, interfaceIndex, context);
    if (result == 0)
        instance = interfaceIndex;
    return result;
}

// The hub's contexts are unique across its adapters, so the context alone
// names the address; the instance is its interface.
int deleteInterfaceAddress(std::uint32_t context, std::uint32_t /*instance*/) {
    FakeAdapterHub* hub = FakeAdapterHub::current();
    return hub != nullptr ? hub->deleteAddress(context) : ENOENT;
}

int setInterfaceMtu(std::uint64_t luid, std::uint32_t mtu) {
    FakeAdapterHub* hub = FakeAdapterHub::current();
    return hub != nullptr ? hub->setMtu(luid, mtu) : EINVAL;
}
