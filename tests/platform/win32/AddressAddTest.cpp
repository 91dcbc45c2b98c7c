// Adding an address to an interface: Windows needs administrator rights and
// an adapter; Wine has only a stub. Apart from the other platform tests, so
// that its skip under Wine hides none of theirs.

#include "platform/AddressConfig.h"

#include <winsock2.h> // before the other system headers

#include <iphlpapi.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

bool underWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

NET_IFINDEX loopbackIndex() {
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer(size);
    auto* adapters = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
    if (GetAdaptersAddresses(AF_INET, 0, nullptr, adapters, &size) != NO_ERROR)
        return 0;
    for (auto* adapter = adapters; adapter; adapter = adapter->Next)
        if (adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK)
            return adapter->IfIndex;
    return 0;
}

// Wine answers AddIPAddress with ERROR_NOT_SUPPORTED whatever it is given;
// Windows needs administrator rights and an adapter of ours.
TEST(AddressConfig, AddingAnAddressIsRefusedWithTheSystemsCode) {
    const NET_IFINDEX loopback = loopbackIndex();
    std::uint32_t context = 0;
    std::uint32_t instance = 0;
    const int result =
        addInterfaceAddress(htonl(0xc0000201), htonl(0xffffff00), loopback, context, instance);
    if (result == 0) {
        EXPECT_EQ(deleteInterfaceAddress(context, instance), 0);
        return;
    }
    if (underWine()) {
        EXPECT_EQ(result, ERROR_NOT_SUPPORTED);
        GTEST_SKIP() << "Wine's AddIPAddress is a stub: it answers ERROR_NOT_SUPPORTED (50)";
    }
    GTEST_SKIP() << "AddIPAddress needs administrator rights here (" << result << ")";
}

} // namespace
