// The binding in a program that carries neither library: the filesystem's
// exception passes out unchanged and the table is not touched.

#include "resources/LibraryBinding.h"
#include "resources/ResourceFilesystem.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

namespace {

void expectMissingFile(const std::function<void()>& call, const std::string& name) {
    try {
        call();
        ADD_FAILURE() << name << " was found";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::error_code(ENOENT, std::generic_category()));
        EXPECT_EQ(std::string(error.what()), name + ": no such file or directory");
    }
}

TEST(LibraryBindingNoFiles, MissingLibrariesThrowTheFilesystemError) {
    expectMissingFile([] { bindWintunApi(); }, "wintun.dll");
    EXPECT_EQ(WintunApi.createAdapter, nullptr);
    EXPECT_EQ(WintunApi.sendPacket, nullptr);

    DiscordCoreInterface* core = nullptr;
    expectMissingFile([&] { DiscordCreate(discordInterfaceVersion, nullptr, &core); },
                      "discord_game_sdk.dll");
}

} // namespace
