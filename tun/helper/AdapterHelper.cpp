#include "tun/helper/AdapterHelper.h"

#include "platform/AddressConfig.h"
#include "platform/linux/FirewallZone.h"
#include "platform/linux/Netlink.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netlink/route/link.h>

namespace {

HelperReply failure(int error, std::string text) {
    return HelperReply{error, 0, std::move(text)};
}

HelperReply systemFailure(const char* what, int error) {
    return failure(error, std::string(what) + ": " + std::strerror(error));
}

std::uint32_t maskOf(int prefix) {
    return htonl(prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - prefix));
}

} // namespace

AdapterHelper::~AdapterHelper() {
    removeInterface();
}

HelperReply AdapterHelper::handle(const HelperRequest& request, UniqueDescriptor& handOver) {
    if (const auto* malformed = std::get_if<HelperMalformed>(&request))
        return failure(EINVAL, "malformed request: " + malformed->reason);
    if (const auto* creation = std::get_if<HelperCreate>(&request))
        return create(*creation, handOver);
    return change(std::get<HelperInterfaceRequest>(request));
}

HelperReply AdapterHelper::create(const HelperCreate& request, UniqueDescriptor& handOver) {
    if (adapter || removed)
        return failure(EEXIST, "this helper already created its adapter");
    UniqueDescriptor created;
    if (int rc = createAdapterQueue(request.identity, created, adapter); rc != 0) {
        if (rc == EPERM)
            return failure(EPERM, "the adapter helper holds no CAP_NET_ADMIN");
        return systemFailure("cannot create the adapter", rc);
    }
    handOver.reset(fcntl(created.get(), F_DUPFD_CLOEXEC, 0));
    if (handOver.get() < 0) {
        int rc = errno;
        queue = std::move(created);
        removeInterface();
        return systemFailure("cannot hand the adapter over", rc);
    }
    queue = std::move(created);
    return HelperReply{0, adapter->index, adapter->interfaceName};
}

HelperReply AdapterHelper::change(const HelperInterfaceRequest& request) {
    if (!adapter || removed)
        return failure(ENODEV, "this helper has no adapter");
    if (request.interfaceName != adapter->interfaceName)
        return failure(EPERM, "refused: " + request.interfaceName +
                                  " is not the adapter this helper created (" +
                                  adapter->interfaceName + ")");
    if (int rc = checkAdapter(*adapter); rc != 0)
        return systemFailure("the adapter is gone", rc);
    const std::uint32_t index = adapter->index;
    int rc = 0;
    switch (request.kind) {
    case HelperRequestKind::up:
        rc = setLinkUp(index);
        break;
    case HelperRequestKind::setMtu:
        rc = changeLink(index,
                        [&](rtnl_link& changes) { rtnl_link_set_mtu(&changes, request.mtu); });
        break;
    case HelperRequestKind::addAddress: {
        if (address != 0)
            return failure(EEXIST, "the adapter already has an address: remove it first");
        std::uint32_t context = 0, instance = 0;
        rc = addInterfaceAddress(request.address, maskOf(request.prefix), index, context, instance);
        if (rc == 0)
            address = request.address;
        break;
    }
    case HelperRequestKind::removeAddress:
        if (address == 0)
            return failure(ENOENT, "the adapter has no address");
        rc = deleteInterfaceAddress(address, index);
        if (rc == 0 || rc == ENOENT) {
            address = 0;
            rc = 0;
        }
        break;
    case HelperRequestKind::markPrivate:
        putInterfaceIntoHomeZone(adapter->interfaceName);
        break;
    case HelperRequestKind::remove:
        removeInterface();
        break;
    case HelperRequestKind::create:
        return failure(EINVAL, "malformed request");
    }
    if (rc != 0)
        return systemFailure("the change was refused", rc);
    return HelperReply{0, index, {}};
}

void AdapterHelper::removeInterface() {
    if (adapter && !removed && checkAdapter(*adapter) == 0)
        deleteLink(adapter->index);
    removed = adapter != nullptr;
    queue.reset();
}
