// The Windows stand-in adapter library (run under Wine), mapped by our own
// loader as the program maps it: adapters by pool and name, a loopback
// session whose sent packets come back on the receive side, and the
// failures, each with its Windows error code.

#include "interfaces/WintunTypes.h"
#include "platform/LastError.h"
#include "resources/InMemoryLoad.h"

#include <gtest/gtest.h>
#include <iphlpapi.h>
#include <netioapi.h>
#include <windows.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct StandinApi {
    WintunCreateAdapterFunc* createAdapter;
    WintunDeleteAdapterFunc* deleteAdapter;
    WintunDeletePoolDriverFunc* deletePoolDriver;
    WintunEnumAdaptersFunc* enumAdapters;
    WintunFreeAdapterFunc* freeAdapter;
    WintunOpenAdapterFunc* openAdapter;
    WintunGetAdapterLuidFunc* getAdapterLuid;
    WintunGetAdapterNameFunc* getAdapterName;
    WintunSetAdapterNameFunc* setAdapterName;
    WintunGetRunningDriverVersionFunc* getRunningDriverVersion;
    WintunSetLoggerFunc* setLogger;
    WintunStartSessionFunc* startSession;
    WintunEndSessionFunc* endSession;
    WintunGetReadWaitEventFunc* getReadWaitEvent;
    WintunReceivePacketFunc* receivePacket;
    WintunReleaseReceivePacketFunc* releaseReceivePacket;
    WintunAllocateSendPacketFunc* allocateSendPacket;
    WintunSendPacketFunc* sendPacket;
};

const char* const entryNames[] = {
    "WintunCreateAdapter",      "WintunDeleteAdapter",
    "WintunDeletePoolDriver",   "WintunEnumAdapters",
    "WintunFreeAdapter",        "WintunOpenAdapter",
    "WintunGetAdapterLUID",     "WintunGetAdapterName",
    "WintunSetAdapterName",     "WintunGetRunningDriverVersion",
    "WintunSetLogger",          "WintunStartSession",
    "WintunEndSession",         "WintunGetReadWaitEvent",
    "WintunReceivePacket",      "WintunReleaseReceivePacket",
    "WintunAllocateSendPacket", "WintunSendPacket",
};
static_assert(sizeof(StandinApi) == sizeof(entryNames));

const wchar_t* const pool = L"Orvanti VPN";
const wchar_t* const name = L"Orvanti VPN";
constexpr DWORD capacity = 0x20000;

std::vector<std::wstring> logged;
void WINTUN_CALL logLine(WintunLoggerLevel level, const WintunWchar* message) {
    logged.push_back(std::to_wstring(level) + L" " + message);
}

bool underWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// A fresh copy of the library for each test: its adapters live in the copy.
class StandinAdapter : public testing::Test {
protected:
    void SetUp() override {
        std::ifstream file("wintun.dll", std::ios::binary);
        const std::vector<unsigned char> image{std::istreambuf_iterator<char>(file), {}};
        ASSERT_FALSE(image.empty()) << "wintun.dll beside the test program";
        library = loadInMemoryLibraryFrom(image.data(), image.size(), systemLoaderOptions());
        ASSERT_NE(library, nullptr) << "last error " << lastError();
        void** slot = reinterpret_cast<void**>(&api);
        for (const char* entry : entryNames) {
            *slot = findInMemoryExport(library, entry);
            ASSERT_NE(*slot, nullptr) << entry;
            ++slot;
        }
        logged.clear();
        api.setLogger(logLine);
    }
    void TearDown() override { freeInMemoryLibrary(library); }

    // Creates the adapter and starts a session on it.
    void startSession(DWORD ringCapacity = capacity) {
        BOOL reboot = TRUE;
        adapter = api.createAdapter(pool, name, nullptr, &reboot);
        ASSERT_NE(adapter, nullptr) << GetLastError();
        EXPECT_FALSE(reboot);
        session = api.startSession(adapter, ringCapacity);
        ASSERT_NE(session, nullptr) << GetLastError();
    }
    void endSession() {
        api.endSession(session);
        api.deleteAdapter(adapter, TRUE, nullptr);
        api.freeAdapter(adapter);
    }

    // Allocates and fills a packet of size bytes, each byte the tag.
    BYTE* allocate(DWORD size, BYTE tag) {
        BYTE* packet = api.allocateSendPacket(session, size);
        if (packet != nullptr)
            std::memset(packet, tag, size);
        return packet;
    }

    // The next received packet as (size, tag), released at once; size 0 when none.
    std::pair<DWORD, int> receive() {
        DWORD size = 0;
        BYTE* packet = api.receivePacket(session, &size);
        if (packet == nullptr)
            return {0, -1};
        const std::pair<DWORD, int> got{size, packet[size - 1]};
        api.releaseReceivePacket(session, packet);
        return got;
    }

    InMemoryLibrary* library = nullptr;
    StandinApi api{};
    WintunAdapterHandle adapter = nullptr;
    WintunSessionHandle session = nullptr;
};

TEST_F(StandinAdapter, AdaptersAreFoundByPoolAndName) {
    SetLastError(0);
    EXPECT_EQ(api.openAdapter(pool, name), nullptr) << "none before the first creation";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    BOOL reboot = TRUE;
    WintunAdapterHandle created = api.createAdapter(pool, name, nullptr, &reboot);
    ASSERT_NE(created, nullptr);
    EXPECT_FALSE(reboot);
    EXPECT_EQ(api.createAdapter(pool, name, nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));

    WintunAdapterHandle opened = api.openAdapter(pool, name);
    ASSERT_NE(opened, nullptr);
    EXPECT_NE(opened, created) << "each open gives a handle of its own";
    WintunLuid createdLuid = 0;
    WintunLuid openedLuid = 0;
    api.getAdapterLuid(created, &createdLuid);
    api.getAdapterLuid(opened, &openedLuid);
    EXPECT_NE(createdLuid, 0u);
    EXPECT_EQ(createdLuid, openedLuid);

    WCHAR adapterName[wintunMaxAdapterName] = {};
    ASSERT_TRUE(api.getAdapterName(opened, adapterName));
    EXPECT_STREQ(adapterName, name);
    ASSERT_TRUE(api.setAdapterName(created, L"Renamed"));
    ASSERT_TRUE(api.getAdapterName(opened, adapterName));
    EXPECT_STREQ(adapterName, L"Renamed") << "both handles name one adapter";

    int seen = 0;
    auto count = [](WintunAdapterHandle, LPARAM param) -> BOOL {
        ++*reinterpret_cast<int*>(param);
        return TRUE;
    };
    ASSERT_TRUE(api.enumAdapters(pool, count, reinterpret_cast<LPARAM>(&seen)));
    EXPECT_EQ(seen, 1);
    seen = 0;
    ASSERT_TRUE(api.enumAdapters(L"Another pool", count, reinterpret_cast<LPARAM>(&seen)));
    EXPECT_EQ(seen, 0);

    EXPECT_TRUE(api.deleteAdapter(created, FALSE, &reboot));
    EXPECT_FALSE(reboot);
    EXPECT_EQ(api.openAdapter(pool, L"Renamed"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    api.freeAdapter(opened);
    api.freeAdapter(created);

    SetLastError(0);
    EXPECT_EQ(api.getRunningDriverVersion(), 0u) << "no driver behind the stand-in";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(StandinAdapter, InvalidNamesAreRefused) {
    const std::wstring tooLong(wintunMaxAdapterName, L'x');
    const std::wstring longest(wintunMaxAdapterName - 1, L'x');
    const struct {
        const char* what;
        const wchar_t* pool;
        const wchar_t* name;
    } cases[] = {
        {"no name", pool, nullptr},
        {"no pool", nullptr, name},
        {"empty name", pool, L""},
        {"name of 128 characters", pool, tooLong.c_str()},
        {"control character", pool, L"Orvanti\tVPN"},
    };
    for (const auto& invalid : cases) {
        SetLastError(0);
        EXPECT_EQ(api.createAdapter(invalid.pool, invalid.name, nullptr, nullptr), nullptr)
            << invalid.what;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << invalid.what;
        EXPECT_EQ(api.openAdapter(invalid.pool, invalid.name), nullptr) << invalid.what;
    }
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ(logged.back().rfind(L"2 Failed to create adapter", 0), 0u) << "errors are logged";
    WintunAdapterHandle longName = api.createAdapter(pool, longest.c_str(), nullptr, nullptr);
    EXPECT_NE(longName, nullptr) << "127 characters fit";
    api.freeAdapter(longName);
    EXPECT_EQ(logged.back().rfind(L"1 Stand-in adapter library", 0), 0u)
        << "a creation says the adapter is a stand-in";
}

TEST_F(StandinAdapter, SentPacketsComeBackInAllocationOrder) {
    ASSERT_NO_FATAL_FAILURE(startSession());
    HANDLE readable = api.getReadWaitEvent(session);
    ASSERT_NE(readable, nullptr);

    SetLastError(0);
    EXPECT_EQ(receive().first, 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    EXPECT_EQ(WaitForSingleObject(readable, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    BYTE* first = allocate(60, 1);
    BYTE* second = allocate(1500, 2);
    BYTE* third = allocate(wintunMaxIpPacketSize, 3);
    ASSERT_TRUE(first && second && third);
    api.sendPacket(session, second);
    EXPECT_EQ(WaitForSingleObject(readable, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the second waits for the first";
    api.sendPacket(session, first);
    EXPECT_EQ(WaitForSingleObject(readable, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    api.sendPacket(session, third);

    EXPECT_EQ(receive(), (std::pair<DWORD, int>{60, 1}));
    EXPECT_EQ(receive(), (std::pair<DWORD, int>{1500, 2}));
    EXPECT_EQ(receive(), (std::pair<DWORD, int>{wintunMaxIpPacketSize, 3}));
    EXPECT_EQ(receive().first, 0u);
    EXPECT_EQ(WaitForSingleObject(readable, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    endSession();
}

TEST_F(StandinAdapter, RingsHoldAtMostTheirCapacity) {
    ASSERT_NO_FATAL_FAILURE(startSession(capacity));
    // The send ring: allocated packets hold their room until sent.
    std::vector<BYTE*> held;
    while (BYTE* packet = allocate(wintunMaxIpPacketSize, static_cast<BYTE>(held.size())))
        held.push_back(packet);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
    EXPECT_GE(held.size(), 1u);
    EXPECT_LE(held.size() * wintunMaxIpPacketSize, capacity);
    for (BYTE* packet : held)
        api.sendPacket(session, packet);

    // The receive ring took what it had room for; sending more while it is
    // full drops the packet.
    BYTE* extra = allocate(wintunMaxIpPacketSize, 9);
    ASSERT_NE(extra, nullptr) << "the send ring has room again";
    api.sendPacket(session, extra);
    for (std::size_t i = 0; i < held.size(); ++i)
        EXPECT_EQ(receive(), (std::pair<DWORD, int>{wintunMaxIpPacketSize, static_cast<int>(i)}));
    EXPECT_EQ(receive().first, 0u) << "the packet sent into a full ring was dropped";

    // With the room released, packets come back again.
    BYTE* again = allocate(100, 7);
    ASSERT_NE(again, nullptr);
    api.sendPacket(session, again);
    EXPECT_EQ(receive(), (std::pair<DWORD, int>{100, 7}));
    endSession();
}

TEST_F(StandinAdapter, SessionArgumentsAreChecked) {
    BOOL reboot = FALSE;
    adapter = api.createAdapter(pool, name, nullptr, &reboot);
    ASSERT_NE(adapter, nullptr);
    for (DWORD wrong : {0u, 0x1FFFFu, 0x30000u, 0x8000000u}) {
        SetLastError(0);
        EXPECT_EQ(api.startSession(adapter, wrong), nullptr) << wrong;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << wrong;
    }
    session = api.startSession(adapter, wintunMaxRingCapacity);
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(api.startSession(adapter, capacity), nullptr) << "one session per adapter";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
    for (DWORD wrong : {0u, wintunMaxIpPacketSize + 1}) {
        SetLastError(0);
        EXPECT_EQ(api.allocateSendPacket(session, wrong), nullptr) << wrong;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << wrong;
    }
    endSession();
}

TEST_F(StandinAdapter, DeletingUnderASessionNeedsForce) {
    ASSERT_NO_FATAL_FAILURE(startSession());
    BYTE* waiting = allocate(40, 5);
    ASSERT_NE(waiting, nullptr);
    api.sendPacket(session, waiting);

    EXPECT_FALSE(api.deleteAdapter(adapter, FALSE, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
    EXPECT_TRUE(api.deleteAdapter(adapter, TRUE, nullptr));

    // The closed session stays valid until it is ended, and every call fails;
    // a waiter wakes to find that out.
    EXPECT_EQ(WaitForSingleObject(api.getReadWaitEvent(session), 0),
              static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD size = 0;
    EXPECT_EQ(api.receivePacket(session, &size), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HANDLE_EOF));
    EXPECT_EQ(api.allocateSendPacket(session, 40), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HANDLE_EOF));
    api.endSession(session);
    EXPECT_EQ(api.startSession(adapter, capacity), nullptr) << "the adapter is gone";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    api.freeAdapter(adapter);

    // A new adapter of the same name can be made afterwards.
    WintunAdapterHandle again = api.createAdapter(pool, name, nullptr, nullptr);
    EXPECT_NE(again, nullptr);
    api.freeAdapter(again);
}

TEST_F(StandinAdapter, LuidNamesAnInterfaceOnlyUnderWine) {
    adapter = api.createAdapter(pool, name, nullptr, nullptr);
    ASSERT_NE(adapter, nullptr);
    NET_LUID luid{};
    api.getAdapterLuid(adapter, &luid.Value);
    NET_IFINDEX index = 0;
    const DWORD result = ConvertInterfaceLuidToIndex(&luid, &index);
    if (underWine()) {
        EXPECT_EQ(result, static_cast<DWORD>(NO_ERROR)) << "the loopback interface";
        EXPECT_EQ(index, 1u);
    } else {
        EXPECT_NE(result, static_cast<DWORD>(NO_ERROR)) << "no real interface is ever named";
    }
    api.freeAdapter(adapter);
}

} // namespace
