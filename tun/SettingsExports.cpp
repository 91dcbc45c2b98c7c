// Our own entry points beyond Wintun's: the adapter's MTU, address and
// firewall zone, set here directly when this thread holds CAP_NET_ADMIN and
// else through the helper that created the adapter.

#include "interfaces/WintunExports.h"
#include "platform/AddressConfig.h"
#include "platform/linux/FirewallZone.h"
#include "platform/linux/Netlink.h"
#include "tun/HelperLink.h"
#include "tun/Logger.h"

#include <arpa/inet.h>
#include <bit>
#include <cerrno>
#include <netlink/route/link.h>

namespace {

// Runs an entry point's body; no C++ exception crosses the C interface.
template <class Body> WintunBool guardedSetting(const char* what, Body&& body) {
    int rc = 0;
    try {
        rc = body();
    } catch (...) {
        rc = ENOMEM;
    }
    if (rc != 0) {
        logFailure(what, rc);
        return 0;
    }
    return 1;
}

// As the IP Helper does, an adapter whose interface is gone is an invalid parameter.
int checkConfigurable(const WintunAdapterRecord& adapter) {
    return checkAdapter(adapter) == 0 ? 0 : EINVAL;
}

HelperInterfaceRequest helperRequest(HelperRequestKind kind) {
    HelperInterfaceRequest request;
    request.kind = kind;
    return request;
}

} // namespace

extern "C" {

WintunBool VaskorSetAdapterMtu(WintunAdapterHandle adapter, WintunDword mtu) {
    return guardedSetting("Failed to set the adapter's MTU", [&] {
        if (adapter == nullptr)
            return EINVAL;
        if (int rc = checkConfigurable(*adapter); rc != 0)
            return rc;
        if (adapter->helper) {
            auto request = helperRequest(HelperRequestKind::setMtu);
            request.mtu = mtu;
            return adapter->helper->request(request);
        }
        return changeLink(adapter->index,
                          [mtu](rtnl_link& changes) { rtnl_link_set_mtu(&changes, mtu); });
    });
}

WintunBool VaskorAddAdapterAddress(WintunAdapterHandle adapter, std::uint32_t address,
                                   std::uint32_t mask) {
    return guardedSetting("Failed to add the adapter's address", [&] {
        std::uint32_t hostMask = ntohl(mask);
        int prefix = std::popcount(hostMask);
        if (adapter == nullptr || std::countl_one(hostMask) != prefix)
            return EINVAL;
        if (int rc = checkConfigurable(*adapter); rc != 0)
            return rc;
        if (adapter->helper) {
            auto request = helperRequest(HelperRequestKind::addAddress);
            request.address = address;
            request.prefix = prefix;
            return adapter->helper->request(request);
        }
        std::uint32_t context = 0, instance = 0;
        return addInterfaceAddress(address, mask, adapter->index, context, instance);
    });
}

WintunBool VaskorRemoveAdapterAddress(WintunAdapterHandle adapter, std::uint32_t address) {
    return guardedSetting("Failed to remove the adapter's address", [&] {
        if (adapter == nullptr)
            return EINVAL;
        if (adapter->helper)
            return adapter->helper->request(helperRequest(HelperRequestKind::removeAddress));
        return deleteInterfaceAddress(address, adapter->index);
    });
}

void VaskorMarkAdapterPrivate(WintunAdapterHandle adapter) {
    guardedSetting("Failed to mark the adapter's network private", [&] {
        if (adapter == nullptr)
            return EINVAL;
        if (adapter->helper)
            return adapter->helper->request(helperRequest(HelperRequestKind::markPrivate));
        putInterfaceIntoHomeZone(adapter->interfaceName);
        return 0;
    });
}

} // extern "C"
