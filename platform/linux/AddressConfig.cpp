#include "platform/AddressConfig.h"

#include "platform/linux/InterfaceLuid.h"
#include "platform/linux/Netlink.h"

#include <arpa/inet.h>
#include <bit>
#include <cerrno>
#include <memory>
#include <netlink/addr.h>
#include <netlink/cache.h>
#include <netlink/route/addr.h>
#include <netlink/route/route.h>
#include <vector>

namespace {

struct CacheDeleter {
    void operator()(nl_cache* cache) const { nl_cache_free(cache); }
};
struct AddrObjectDeleter {
    void operator()(rtnl_addr* address) const { rtnl_addr_put(address); }
};
struct NlAddrDeleter {
    void operator()(nl_addr* address) const { nl_addr_put(address); }
};
struct RouteDeleter {
    void operator()(rtnl_route* route) const { rtnl_route_put(route); }
};
using AddrObject = std::unique_ptr<rtnl_addr, AddrObjectDeleter>;
using NlAddr = std::unique_ptr<nl_addr, NlAddrDeleter>;

constexpr std::uint32_t limitedBroadcast = 0xFFFFFFFF;

NlAddr ipv4(std::uint32_t networkOrder, int prefix) {
    NlAddr address(nl_addr_build(AF_INET, &networkOrder, sizeof networkOrder));
    if (address)
        nl_addr_set_prefixlen(address.get(), prefix);
    return address;
}

constexpr int anyInterface = -1;

// The IPv4 addresses whose local address is this one, on one interface or
// (anyInterface) on every interface.
int findAddresses(NetlinkSocket& netlink, std::uint32_t local, int interfaceIndex,
                  std::vector<AddrObject>& found) {
    nl_cache* raw = nullptr;
    if (int rc = rtnl_addr_alloc_cache(netlink.get(), &raw); rc < 0)
        return errnoFromNetlinkError(rc);
    std::unique_ptr<nl_cache, CacheDeleter> cache(raw);
    for (nl_object* object = nl_cache_get_first(raw); object != nullptr;
         object = nl_cache_get_next(object)) {
        auto* address = reinterpret_cast<rtnl_addr*>(object);
        nl_addr* candidate = rtnl_addr_get_local(address);
        if (rtnl_addr_get_family(address) != AF_INET || candidate == nullptr ||
            nl_addr_get_len(candidate) != sizeof local)
            continue;
        if (interfaceIndex != anyInterface && rtnl_addr_get_ifindex(address) != interfaceIndex)
            continue;
        if (*static_cast<const std::uint32_t*>(nl_addr_get_binary_addr(candidate)) == local) {
            nl_object_get(object);
            found.emplace_back(address);
        }
    }
    return 0;
}

int addAddress(NetlinkSocket& netlink, std::uint32_t address, int prefix, std::uint32_t index) {
    AddrObject request(rtnl_addr_alloc());
    NlAddr local = ipv4(address, prefix);
    if (!request || !local)
        return ENOMEM;
    rtnl_addr_set_ifindex(request.get(), static_cast<int>(index));
    rtnl_addr_set_family(request.get(), AF_INET);
    if (int rc = rtnl_addr_set_local(request.get(), local.get()); rc < 0)
        return errnoFromNetlinkError(rc);
    if (prefix < 31) {
        // Shown as "brd" and read by programs that look for the broadcast address.
        std::uint32_t mask = prefix == 0 ? 0 : htonl(~std::uint32_t{0} << (32 - prefix));
        NlAddr broadcast = ipv4(address | ~mask, 32);
        if (!broadcast)
            return ENOMEM;
        rtnl_addr_set_broadcast(request.get(), broadcast.get());
    }
    nl_msg* message = nullptr;
    if (int rc = rtnl_addr_build_add_request(request.get(), NLM_F_CREATE | NLM_F_EXCL, &message);
        rc < 0)
        return errnoFromNetlinkError(rc);
    return netlink.request(message);
}

// The kernel already sends the network's own broadcast out of the interface;
// 255.255.255.255 would follow the default route or fail, so it gets a route
// here. The route's source is the address, so the kernel removes the route
// together with the address.
int addLimitedBroadcastRoute(NetlinkSocket& netlink, std::uint32_t address, std::uint32_t index) {
    std::unique_ptr<rtnl_route, RouteDeleter> route(rtnl_route_alloc());
    NlAddr destination = ipv4(limitedBroadcast, 32);
    NlAddr source = ipv4(address, 32);
    rtnl_nexthop* hop = rtnl_route_nh_alloc();
    if (!route || !destination || !source || hop == nullptr) {
        if (hop != nullptr)
            rtnl_route_nh_free(hop);
        return ENOMEM;
    }
    rtnl_route_set_family(route.get(), AF_INET);
    rtnl_route_set_table(route.get(), RT_TABLE_MAIN);
    rtnl_route_set_type(route.get(), RTN_UNICAST);
    rtnl_route_set_scope(route.get(), RT_SCOPE_LINK);
    rtnl_route_set_dst(route.get(), destination.get());
    rtnl_route_set_pref_src(route.get(), source.get());
    rtnl_route_nh_set_ifindex(hop, static_cast<int>(index));
    rtnl_route_add_nexthop(route.get(), hop);
    nl_msg* message = nullptr;
    if (int rc = rtnl_route_build_add_request(route.get(), NLM_F_CREATE, &message); rc < 0)
        return errnoFromNetlinkError(rc);
    int rc = netlink.request(message);
    return rc == EEXIST ? 0 : rc; // another interface already carries it
}

int deleteAddressObject(NetlinkSocket& netlink, rtnl_addr* address) {
    nl_msg* message = nullptr;
    if (int rc = rtnl_addr_build_delete_request(address, 0, &message); rc < 0)
        return errnoFromNetlinkError(rc);
    return netlink.request(message);
}

} // namespace

int interfaceIndexOfLuid(std::uint64_t luid, std::uint32_t& index) {
    auto candidate = interfaceIndexFromLuid(luid);
    LinkSummary link;
    if (!candidate || readLink(*candidate, link) != 0)
        return EINVAL;
    index = *candidate;
    return 0;
}

int addInterfaceAddress(std::uint32_t address, std::uint32_t mask, std::uint32_t interfaceIndex,
                        std::uint32_t& context, std::uint32_t& instance) {
    std::uint32_t hostMask = ntohl(mask);
    int prefix = std::popcount(hostMask);
    if (address == 0 || std::countl_one(hostMask) != prefix)
        return EINVAL;
    NetlinkSocket netlink;
    if (netlink.error() != 0)
        return netlink.error();
    std::vector<AddrObject> holders;
    if (int rc = findAddresses(netlink, address, anyInterface, holders); rc != 0)
        return rc;
    if (!holders.empty())
        return EEXIST;
    // Broadcast routes are only made for an interface that is up.
    if (int rc = setLinkUp(interfaceIndex); rc != 0)
        return rc;
    if (int rc = addAddress(netlink, address, prefix, interfaceIndex); rc != 0)
        return rc;
    if (int rc = addLimitedBroadcastRoute(netlink, address, interfaceIndex); rc != 0) {
        deleteInterfaceAddress(address, interfaceIndex);
        return rc;
    }
    context = address; // with the interface, names exactly this address for its deletion
    instance = interfaceIndex;
    return 0;
}

int deleteInterfaceAddress(std::uint32_t context, std::uint32_t instance) {
    NetlinkSocket netlink;
    if (netlink.error() != 0)
        return netlink.error();
    std::vector<AddrObject> holders;
    if (int rc = findAddresses(netlink, context, static_cast<int>(instance), holders); rc != 0)
        return rc;
    if (context == 0 || holders.empty())
        return ENOENT;
    int result = 0;
    for (auto& holder : holders)
        if (int rc = deleteAddressObject(netlink, holder.get()); rc != 0)
            result = rc;
    return result;
}

int setInterfaceMtu(std::uint64_t luid, std::uint32_t mtu) {
    std::uint32_t index = 0;
    if (int rc = interfaceIndexOfLuid(luid, index); rc != 0)
        return rc;
    return changeLink(index, [mtu](rtnl_link& changes) { rtnl_link_set_mtu(&changes, mtu); });
}
