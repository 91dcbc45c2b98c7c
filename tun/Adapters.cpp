#include "tun/Adapters.h"

#include "platform/linux/Netlink.h"
#include "tun/HelperLink.h"
#include "tun/InterfaceName.h"
#include "tun/UniqueDescriptor.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <netlink/route/link.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr unsigned maxNameAttempts = 100;

int setAlias(std::uint32_t index, const std::string& alias) {
    return changeLink(index,
                      [&](rtnl_link& changes) { rtnl_link_set_ifalias(&changes, alias.c_str()); });
}

// Attaches a probe to the interface: EBUSY when a session holds it.
int probeAttach(const std::string& interfaceName) {
    UniqueDescriptor tun(open("/dev/net/tun", O_RDWR | O_CLOEXEC));
    if (tun.get() < 0)
        return errno;
    ifreq request{};
    std::strncpy(request.ifr_name, interfaceName.c_str(), IFNAMSIZ - 1);
    request.ifr_flags = static_cast<short>(tunInterfaceFlags());
    return ioctl(tun.get(), TUNSETIFF, &request) < 0 ? errno : 0;
}

} // namespace

int createAdapterQueue(const AdapterIdentity& identity, UniqueDescriptor& queue,
                       std::unique_ptr<WintunAdapterRecord>& created) {
    auto alias = encodeAdapterAlias(identity);
    if (!alias)
        return EINVAL;
    std::vector<LinkSummary> links;
    if (int rc = listLinks(links); rc != 0)
        return rc;
    auto taken = [&](const std::string& name) {
        return std::any_of(links.begin(), links.end(),
                           [&](const LinkSummary& link) { return link.name == name; });
    };
    std::string interfaceName;
    for (unsigned attempt = 0; attempt < maxNameAttempts && interfaceName.empty(); ++attempt)
        if (std::string candidate = interfaceNameFor(identity.name, attempt); !taken(candidate))
            interfaceName = candidate;
    if (interfaceName.empty())
        return EEXIST;

    UniqueDescriptor tun(open("/dev/net/tun", O_RDWR | O_CLOEXEC));
    if (tun.get() < 0)
        return errno;
    ifreq request{};
    std::strncpy(request.ifr_name, interfaceName.c_str(), IFNAMSIZ - 1);
    // IFF_TUN_EXCL: never attach to an interface that appeared meanwhile.
    request.ifr_flags = static_cast<short>(tunInterfaceFlags() | IFF_TUN_EXCL);
    if (ioctl(tun.get(), TUNSETIFF, &request) < 0)
        return errno;
    std::uint32_t index = if_nametoindex(request.ifr_name);
    if (index == 0)
        return errno;
    if (int rc = setAlias(index, *alias); rc != 0)
        return rc; // not persistent: the interface goes with the descriptor
    created = std::make_unique<WintunAdapterRecord>(
        WintunAdapterRecord{identity, std::string(request.ifr_name), index, nullptr});
    queue = std::move(tun);
    return 0;
}

int createAdapter(const AdapterIdentity& identity, std::unique_ptr<WintunAdapterRecord>& created) {
    if (!holdsNetworkAdmin())
        return HelperLink::createAdapter(identity, created);
    UniqueDescriptor queue;
    std::unique_ptr<WintunAdapterRecord> record;
    if (int rc = createAdapterQueue(identity, queue, record); rc != 0)
        return rc;
    // Persistent: the adapter outlives this descriptor until it is deleted.
    if (ioctl(queue.get(), TUNSETPERSIST, 1) < 0) {
        int rc = errno;
        return rc;
    }
    created = std::move(record);
    return 0;
}

int listAdapters(std::vector<WintunAdapterRecord>& adapters) {
    std::vector<LinkSummary> links;
    if (int rc = listLinks(links); rc != 0)
        return rc;
    adapters.clear();
    for (const auto& link : links)
        if (auto identity = decodeAdapterAlias(link.alias); identity && link.kind == "tun")
            adapters.push_back(WintunAdapterRecord{*identity, link.name, link.index, nullptr});
    return 0;
}

int checkAdapter(const WintunAdapterRecord& adapter) {
    LinkSummary link;
    if (int rc = readLink(adapter.index, link); rc != 0)
        return rc;
    auto identity = decodeAdapterAlias(link.alias);
    bool same = link.kind == "tun" && link.name == adapter.interfaceName && identity &&
                identity->pool == adapter.identity.pool;
    return same ? 0 : ENODEV;
}

int deleteAdapter(const WintunAdapterRecord& adapter, bool forceCloseSessions) {
    if (int rc = checkAdapter(adapter); rc != 0)
        return rc;
    if (adapter.helper)
        return adapter.helper->removeAdapter(forceCloseSessions);
    if (!forceCloseSessions)
        if (int rc = probeAttach(adapter.interfaceName); rc != 0)
            return rc;
    return deleteLink(adapter.index);
}

int readAdapterName(const WintunAdapterRecord& adapter, std::u16string& name) {
    LinkSummary link;
    if (int rc = readLink(adapter.index, link); rc != 0)
        return rc;
    auto identity = decodeAdapterAlias(link.alias);
    if (!identity || link.kind != "tun")
        return ENODEV;
    name = identity->name;
    return 0;
}

int renameAdapter(WintunAdapterRecord& adapter, const std::u16string& name) {
    AdapterIdentity renamed{adapter.identity.pool, name};
    auto alias = encodeAdapterAlias(renamed);
    if (!alias)
        return EINVAL;
    if (int rc = checkAdapter(adapter); rc != 0)
        return rc;
    if (adapter.helper)
        return EPERM; // the helper keeps the names it was given
    if (int rc = setAlias(adapter.index, *alias); rc != 0)
        return rc;
    adapter.identity = renamed;
    return 0;
}
