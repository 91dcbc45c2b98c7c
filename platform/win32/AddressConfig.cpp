#include "platform/AddressConfig.h"

// The IP helper declares its interface rows only after the socket headers.
#include <winsock2.h>
#include <ws2ipdef.h>

#include <iphlpapi.h>
#include <netioapi.h>

int interfaceIndexOfLuid(std::uint64_t luid, std::uint32_t& index) {
    NET_LUID value;
    value.Value = luid;
    NET_IFINDEX found = 0;
    DWORD rc = ConvertInterfaceLuidToIndex(&value, &found);
    if (rc == NO_ERROR)
        index = found;
    return static_cast<int>(rc);
}

int addInterfaceAddress(std::uint32_t address, std::uint32_t mask, std::uint32_t interfaceIndex,
                        std::uint32_t& context, std::uint32_t& instance) {
    ULONG newContext = 0;
    ULONG newInstance = 0;
    DWORD rc = AddIPAddress(address, mask, interfaceIndex, &newContext, &newInstance);
    if (rc == NO_ERROR) {
        context = newContext;
        instance = newInstance;
    }
    return static_cast<int>(rc);
}

int deleteInterfaceAddress(std::uint32_t context, std::uint32_t) {
    return static_cast<int>(DeleteIPAddress(context));
}

int setInterfaceMtu(std::uint64_t luid, std::uint32_t mtu) {
    MIB_IPINTERFACE_ROW row;
    InitializeIpInterfaceEntry(&row);
    row.Family = AF_INET;
    row.InterfaceLuid.Value = luid;
    if (DWORD rc = GetIpInterfaceEntry(&row); rc != NO_ERROR)
        return static_cast<int>(rc);
    row.NlMtu = mtu;
    row.SitePrefixLength = 0; // must be 0 for IPv4 rows
    return static_cast<int>(SetIpInterfaceEntry(&row));
}
