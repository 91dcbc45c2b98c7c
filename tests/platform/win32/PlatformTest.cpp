// The platform primitives on Windows (under Wine in the tests): the WOW64
// check, page memory, the last error, the interface calls and the Network
// List Manager. What Wine does not have is named and skipped.

#include "platform/AddressConfig.h"
#include "platform/LastError.h"
#include "platform/Memory.h"
#include "platform/NetworkCategory.h"
#include "platform/Process.h"

#include <winsock2.h> // before the other system headers

#include <iphlpapi.h>
#include <netioapi.h>
#include <objbase.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

MEMORY_BASIC_INFORMATION queried(void* address) {
    MEMORY_BASIC_INFORMATION information{};
    VirtualQuery(address, &information, sizeof information);
    return information;
}

TEST(Wow64, SixtyFourBitProcessIsNeverWow64) {
    static_assert(sizeof(void*) == 8, "the program is built for x64");
    EXPECT_FALSE(isWow64Process());
}

TEST(LastError, SetAndReadBackAsTheSystemsOwn) {
    for (const std::uint32_t code : {errorModNotFound, errorProcNotFound, errorBadExeFormat, 0u}) {
        setLastError(code);
        EXPECT_EQ(lastError(), code);
        EXPECT_EQ(GetLastError(), code);
    }
}

TEST(Memory, ReserveCommitProtectDecommitRelease) {
    const std::size_t page = memoryPageSize();
    ASSERT_GE(page, 4096u);
    auto* block = static_cast<unsigned char*>(reserveAndCommitPages(nullptr, 3 * page));
    ASSERT_NE(block, nullptr);
    for (std::size_t i = 0; i < 3 * page; ++i)
        ASSERT_EQ(block[i], 0) << "committed memory is zeroed";
    std::memset(block, 0xab, 3 * page);

    // Protection page by page, as the loader sets it per section.
    ASSERT_TRUE(protectPages(block + page, page, pageNoAccess));
    EXPECT_EQ(queried(block + page).Protect, static_cast<DWORD>(PAGE_NOACCESS));
    ASSERT_TRUE(protectPages(block, page, pageExecuteRead));
    EXPECT_EQ(queried(block).Protect, static_cast<DWORD>(PAGE_EXECUTE_READ));
    EXPECT_EQ(queried(block + 2 * page).Protect, static_cast<DWORD>(PAGE_READWRITE));

    // Given back, then committed afresh: zero again.
    ASSERT_TRUE(decommitPages(block + 2 * page, page));
    EXPECT_EQ(queried(block + 2 * page).State, static_cast<DWORD>(MEM_RESERVE));
    ASSERT_TRUE(commitPages(block + 2 * page, page));
    EXPECT_EQ(block[2 * page], 0);

    // Not where the block already is.
    EXPECT_EQ(reserveAndCommitPages(block, page), nullptr);
    releasePages(block, 3 * page);
    EXPECT_EQ(queried(block).State, static_cast<DWORD>(MEM_FREE));
}

NET_LUID loopbackLuid(NET_IFINDEX& index) {
    NET_LUID luid{};
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer(size);
    auto* adapters = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
    if (GetAdaptersAddresses(AF_INET, 0, nullptr, adapters, &size) != NO_ERROR)
        return luid;
    for (auto* adapter = adapters; adapter; adapter = adapter->Next)
        if (adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK) {
            index = adapter->IfIndex;
            return adapter->Luid;
        }
    return luid;
}

TEST(AddressConfig, LuidOfAnInterfaceGivesItsIndexAndAnUnknownOneFails) {
    NET_IFINDEX expected = 0;
    const NET_LUID luid = loopbackLuid(expected);
    ASSERT_NE(luid.Value, 0u) << "no loopback interface listed";
    std::uint32_t index = 0;
    ASSERT_EQ(interfaceIndexOfLuid(luid.Value, index), 0);
    EXPECT_EQ(index, expected);

    NET_LUID unknown = luid;
    unknown.Info.NetLuidIndex = 0xfffff;
    std::uint32_t untouched = 77;
    EXPECT_NE(interfaceIndexOfLuid(unknown.Value, untouched), 0);
    EXPECT_EQ(untouched, 77u) << "a failure leaves the index alone";
}

// Marking leaves the thread's COM as it found it, whether or not the Network
// List Manager is there (Wine has none that lists networks).
TEST(NetworkCategory, MarkingLeavesComAsItWas) {
    markNamedNetworksPrivate(u"Vaskor test network");
    const HRESULT fresh = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    EXPECT_EQ(fresh, S_OK) << "COM was left initialised on this thread";
    if (SUCCEEDED(fresh))
        CoUninitialize();
}

} // namespace
