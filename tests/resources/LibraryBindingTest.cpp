// The binding over test stand-ins for both embedded libraries: all 18
// Wintun entries present, and an SDK library whose creation entry records
// its arguments.

#include "resources/LibraryBinding.h"
#include "platform/LastError.h"
#include "tests/resources/LoaderTestSupport.h"
#include "tests/resources/libraries/DiscordProbe.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <set>

// Every DiscordCreate keeps its copy of the SDK library mapped for the
// core it made: those are meant to outlive the test.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:DiscordCreate\n";
}

namespace {

constexpr std::size_t slotCount = 18;

std::array<void*, slotCount> slots(const WintunApiTable& api) {
    static_assert(sizeof(WintunApiTable) == slotCount * sizeof(void*));
    std::array<void*, slotCount> result{};
    std::memcpy(result.data(), &api, sizeof(api));
    return result;
}

// One call through each slot, in table order, with harmless arguments.
std::array<std::function<void()>, slotCount> callsThrough(const WintunApiTable& api) {
    return {
        [=] { api.createAdapter(nullptr, nullptr, nullptr, nullptr); },
        [=] { api.deleteAdapter(nullptr, 1, nullptr); },
        [=] { api.deletePoolDriver(nullptr, nullptr); },
        [=] { api.enumAdapters(nullptr, nullptr, 0); },
        [=] { api.freeAdapter(nullptr); },
        [=] { api.openAdapter(nullptr, nullptr); },
        [=] { api.getAdapterLuid(nullptr, nullptr); },
        [=] { api.getAdapterName(nullptr, nullptr); },
        [=] { api.setAdapterName(nullptr, nullptr); },
        [=] { api.getRunningDriverVersion(); },
        [=] { api.setLogger(nullptr); },
        [=] { api.startSession(nullptr, 0x400000); },
        [=] { api.endSession(nullptr); },
        [=] { api.getReadWaitEvent(nullptr); },
        [=] { api.receivePacket(nullptr, nullptr); },
        [=] { api.releaseReceivePacket(nullptr, nullptr); },
        [=] { api.allocateSendPacket(nullptr, 0); },
        [=] { api.sendPacket(nullptr, nullptr); },
    };
}

using LastCalledFunction = int();

TEST(LibraryBinding, EverySlotHoldsItsOwnEntry) {
    InMemoryLibrary* library = bindWintunApi();
    ASSERT_NE(library, nullptr) << "last error " << lastError();
    auto* lastCalled =
        reinterpret_cast<LastCalledFunction*>(findInMemoryExport(library, "FakeWintunLastCalled"));
    ASSERT_NE(lastCalled, nullptr);

    const auto calls = callsThrough(WintunApi);
    for (std::size_t slot = 0; slot < slotCount; ++slot) {
        calls[slot]();
        EXPECT_EQ(lastCalled(), static_cast<int>(slot + 1)) << "slot " << slot + 1;
    }
    freeInMemoryLibrary(library); // the program keeps its copy; a test gives it back
}

TEST(LibraryBinding, SecondBindingMapsANewCopyAndMovesEverySlot) {
    InMemoryLibrary* first = bindWintunApi();
    ASSERT_NE(first, nullptr);
    const WintunApiTable earlier = WintunApi;
    const int copiesBefore = mappingsNamed("/memfd:wintun.dll");

    InMemoryLibrary* later = bindWintunApi();
    ASSERT_NE(later, nullptr);
    EXPECT_GT(mappingsNamed("/memfd:wintun.dll"), copiesBefore);
    const auto before = slots(earlier);
    const auto after = slots(WintunApi);
    for (std::size_t slot = 0; slot < slotCount; ++slot)
        EXPECT_NE(before[slot], after[slot]) << "slot " << slot + 1;

    // The earlier copy stays mapped and usable.
    EXPECT_EQ(earlier.getRunningDriverVersion(), 0u);
    freeInMemoryLibrary(first);
    freeInMemoryLibrary(later);
}

TEST(LibraryBinding, DiscordCreateForwardsItsArgumentsAndResult) {
    std::set<const void*> copies;
    DiscordCoreInterface* core = nullptr;
    for (DiscordResultCode answer : {0, 7, -3}) {
        DiscordProbe probe;
        probe.answer = answer;
        EXPECT_EQ(DiscordCreate(discordInterfaceVersion,
                                reinterpret_cast<DiscordCreateParams*>(&probe), &core),
                  answer);
        EXPECT_EQ(probe.calls, 1);
        EXPECT_EQ(probe.version, discordInterfaceVersion);
        EXPECT_EQ(probe.result, &core);
        copies.insert(probe.copyMarker);
    }
    EXPECT_EQ(copies.size(), 3u) << "every call maps its own copy";
}

} // namespace
