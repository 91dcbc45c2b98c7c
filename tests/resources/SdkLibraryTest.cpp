// A Windows program (run under Wine): our game SDK's discord_game_sdk.dll,
// mapped by our loader inside a Windows process as the program maps it, and
// its DiscordCreate bound and called. Creation failures the SDK reports by
// throwing and catching a C++ exception inside the library (a bad port, a
// port in use) come back as result codes: the library's unwind data is
// registered.

#include "interfaces/DiscordSdk.h"
#include "platform/LastError.h"
#include "resources/InMemoryLoad.h"

#include <gtest/gtest.h>
#include <winsock2.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using DiscordCreateFunction = DiscordResultCode(std::uint32_t, DiscordCreateParams*,
                                                DiscordCoreInterface**);

// One SDK setting for the length of a test.
class ScopedVariable {
public:
    ScopedVariable(const std::string& name, const std::string& value) : name(name) {
        _putenv((name + "=" + value).c_str());
    }
    ~ScopedVariable() { _putenv((name + "=").c_str()); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    std::string name;
};

class SdkLibrary : public testing::Test {
protected:
    void SetUp() override {
        std::ifstream file("discord_game_sdk.dll", std::ios::binary);
        const std::vector<unsigned char> image{std::istreambuf_iterator<char>(file), {}};
        ASSERT_FALSE(image.empty()) << "discord_game_sdk.dll beside the test program";
        library = loadInMemoryLibraryFrom(image.data(), image.size(), systemLoaderOptions());
        ASSERT_NE(library, nullptr) << "last error " << lastError();
        create =
            reinterpret_cast<DiscordCreateFunction*>(findInMemoryExport(library, "DiscordCreate"));
        ASSERT_NE(create, nullptr);
        params.flags = DiscordCreateFlags_NoRequireDiscord;
    }
    void TearDown() override { freeInMemoryLibrary(library); }

    InMemoryLibrary* library = nullptr;
    DiscordCreateFunction* create = nullptr;
    DiscordCreateParams params{};
    DiscordCoreInterface* core = nullptr;
    ScopedVariable noClientWindow{"VASKOR_SDK_CLIENT", "0"};
};

TEST_F(SdkLibrary, DiscordCreateIsBoundAndCreatesACore) {
    EXPECT_EQ(findInMemoryExport(library, "discordcreate"), reinterpret_cast<void*>(create));
    EXPECT_EQ(library->unwindTable != nullptr, true) << "the SDK has unwind data";
    ScopedVariable anyPort("VASKOR_SDK_PORT", "0");
    ASSERT_EQ(create(discordInterfaceVersion, &params, &core), DiscordResult_Ok);
    ASSERT_NE(core, nullptr);
    EXPECT_EQ(core->runCallbacks(core), DiscordResult_Ok);
    EXPECT_NE(core->getLobbyManager(core), nullptr);
    core->destroy(core);
}

TEST_F(SdkLibrary, FailuresThrownInsideTheLibraryComeBackAsResults) {
    EXPECT_EQ(create(1, &params, &core), DiscordResult_InvalidVersion);
    {
        ScopedVariable badPort("VASKOR_SDK_PORT", "not-a-port");
        EXPECT_EQ(create(discordInterfaceVersion, &params, &core), DiscordResult_InvalidArgument);
        EXPECT_EQ(core, nullptr);
    }

    // A port in use: held by a socket of this test.
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    SOCKET holder = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    ASSERT_NE(holder, INVALID_SOCKET);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    int length = sizeof(address);
    ASSERT_EQ(getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length), 0);
    {
        ScopedVariable takenPort("VASKOR_SDK_PORT", std::to_string(ntohs(address.sin_port)));
        EXPECT_EQ(create(discordInterfaceVersion, &params, &core), DiscordResult_NetworkError);
        EXPECT_EQ(core, nullptr);
    }
    closesocket(holder);
    WSACleanup();

    // The library still works after the exceptions it caught.
    ScopedVariable anyPort("VASKOR_SDK_PORT", "0");
    ASSERT_EQ(create(discordInterfaceVersion, &params, &core), DiscordResult_Ok);
    core->destroy(core);
}

} // namespace
