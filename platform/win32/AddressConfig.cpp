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

// The interface rows are looked up when needed, not imported: Wine 8's IP
// helper has none of them, and a missing import there ends the process at
// the call instead of failing it.
int setInterfaceMtu(std::uint64_t luid, std::uint32_t mtu) {
    using RowFunction = DWORD WINAPI(MIB_IPINTERFACE_ROW*);
    HMODULE helper = GetModuleHandleW(L"iphlpapi.dll");
    auto* getRow = helper ? reinterpret_cast<RowFunction*>(reinterpret_cast<void*>(
                                GetProcAddress(helper, "GetIpInterfaceEntry")))
                          : nullptr;
    auto* setRow = helper ? reinterpret_cast<RowFunction*>(reinterpret_cast<void*>(
                                GetProcAddress(helper, "SetIpInterfaceEntry")))
                          : nullptr;
    if (getRow == nullptr || setRow == nullptr)
        return ERROR_NOT_SUPPORTED;
    // Only the family and the LUID are read; the system fills in the rest.
    MIB_IPINTERFACE_ROW row{};
    row.Family = AF_INET;
    row.InterfaceLuid.Value = luid;
    if (DWORD rc = getRow(&row); rc != NO_ERROR)
        return static_cast<int>(rc);
    row.NlMtu = mtu;
    row.SitePrefixLength = 0; // must be 0 for IPv4 rows
    return static_cast<int>(setRow(&row));
}
