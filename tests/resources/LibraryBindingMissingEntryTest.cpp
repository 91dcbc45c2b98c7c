// The binding over a Wintun stand-in that lacks WintunGetReadWaitEvent (slot
// 14, bound but never called) and an SDK stand-in without DiscordCreate.

#include "platform/LastError.h"
#include "resources/LibraryBinding.h"
#include "tests/resources/LoaderTestSupport.h"

#include <gtest/gtest.h>

#include <array>

namespace {

constexpr std::size_t slotCount = 18;
constexpr std::size_t missingSlot = 14;

TEST(LibraryBindingMissingEntry, BindingFailsWith127AndFreesTheCopy) {
    // Marks in every slot show which ones the binding wrote.
    std::array<void*, slotCount> marks{};
    for (std::size_t i = 0; i < slotCount; ++i)
        marks[i] = &marks[i];
    std::memcpy(&WintunApi, marks.data(), sizeof(WintunApi));

    setLastError(0);
    EXPECT_EQ(bindWintunApi(), nullptr);
    EXPECT_EQ(lastError(), 127u);
    EXPECT_EQ(mappingsNamed("/memfd:wintun.dll"), 0) << "the copy is freed";

    std::array<void*, slotCount> after{};
    std::memcpy(after.data(), &WintunApi, sizeof(WintunApi));
    for (std::size_t slot = 1; slot < missingSlot; ++slot) {
        EXPECT_NE(after[slot - 1], nullptr) << "slot " << slot;
        EXPECT_NE(after[slot - 1], marks[slot - 1]) << "slot " << slot;
    }
    EXPECT_EQ(after[missingSlot - 1], nullptr);
    for (std::size_t slot = missingSlot + 1; slot <= slotCount; ++slot)
        EXPECT_EQ(after[slot - 1], marks[slot - 1]) << "slot " << slot << " untouched";
}

TEST(LibraryBindingMissingEntry, DiscordCreateWithoutTheEntryFails) {
    DiscordCoreInterface* core = nullptr;
    EXPECT_NE(DiscordCreate(discordInterfaceVersion, nullptr, &core), 0);
    EXPECT_EQ(core, nullptr);
    EXPECT_EQ(mappingsNamed("/memfd:discord_game_sdk.dll"), 0) << "the useless copy is freed";
}

} // namespace
