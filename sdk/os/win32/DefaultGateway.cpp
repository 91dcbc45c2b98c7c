#include "sdk/os/DefaultGateway.h"

// Winsock and its IP definitions first: iphlpapi.h declares the routing
// table's calls only after them.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>

namespace sdk::os {

namespace {

// A route's cost as the system weighs it: its own metric plus its
// interface's. The interface's row is looked up at run time: Wine 8's IP
// helper has no GetIpInterfaceEntry, and an import of it would keep the
// whole library from loading there.
ULONG costOf(const MIB_IPFORWARD_ROW2& route) {
    using InterfaceEntry = DWORD(WINAPI*)(MIB_IPINTERFACE_ROW*);
    HMODULE helper = GetModuleHandleW(L"iphlpapi.dll");
    const auto entryOf = helper ? reinterpret_cast<InterfaceEntry>(reinterpret_cast<void*>(
                                      GetProcAddress(helper, "GetIpInterfaceEntry")))
                                : nullptr;
    MIB_IPINTERFACE_ROW row{};
    row.Family = AF_INET;
    row.InterfaceLuid = route.InterfaceLuid;
    const ULONG extra = entryOf && entryOf(&row) == NO_ERROR ? row.Metric : 0;
    return route.Metric + extra;
}

} // namespace

// The cheapest IPv4 default route that goes through a router.
std::optional<std::uint32_t> defaultGatewayIpv4() {
    MIB_IPFORWARD_TABLE2* table = nullptr;
    if (GetIpForwardTable2(AF_INET, &table) != NO_ERROR || !table)
        return std::nullopt;
    std::optional<std::uint32_t> best;
    ULONG bestCost = 0;
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_IPFORWARD_ROW2& route = table->Table[i];
        if (route.DestinationPrefix.PrefixLength != 0 || route.NextHop.si_family != AF_INET ||
            route.NextHop.Ipv4.sin_addr.s_addr == 0)
            continue;
        const ULONG cost = costOf(route);
        if (!best || cost < bestCost) {
            best = ntohl(route.NextHop.Ipv4.sin_addr.s_addr);
            bestCost = cost;
        }
    }
    FreeMibTable(table);
    return best;
}

} // namespace sdk::os
