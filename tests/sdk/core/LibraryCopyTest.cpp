// The program maps a fresh copy of the SDK library from memory for every
// core. Two copies loaded that way must each work on their own, and export
// nothing but their entry.

#include "interfaces/DiscordSdk.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using CreateEntry = DiscordResultCode (*)(std::uint32_t, DiscordCreateParams*,
                                          DiscordCoreInterface**);

// A copy of the library loaded from an anonymous memory file.
class MemoryCopy {
public:
    explicit MemoryCopy(const std::vector<char>& image) {
        descriptor = memfd_create("discord_game_sdk", MFD_CLOEXEC);
        if (descriptor < 0 ||
            write(descriptor, image.data(), image.size()) != static_cast<ssize_t>(image.size()))
            return;
        libraryHandle =
            dlopen(("/proc/self/fd/" + std::to_string(descriptor)).c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    ~MemoryCopy() {
        if (libraryHandle)
            dlclose(libraryHandle);
        if (descriptor >= 0)
            close(descriptor);
    }
    void* handle() const { return libraryHandle; }

private:
    int descriptor = -1;
    void* libraryHandle = nullptr;
};

struct NetworkEvents {
    std::string route;
    int messages = 0;
};

TEST(LibraryCopies, TwoCopiesFromMemoryEachMakeAWorkingCore) {
    std::ifstream file(SDK_LIBRARY_PATH, std::ios::binary);
    const std::vector<char> image((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
    ASSERT_FALSE(image.empty()) << SDK_LIBRARY_PATH;
    MemoryCopy first(image), second(image);
    ASSERT_TRUE(first.handle() && second.handle()) << dlerror();
    auto* createFirst = reinterpret_cast<CreateEntry>(dlsym(first.handle(), "DiscordCreate"));
    auto* createSecond = reinterpret_cast<CreateEntry>(dlsym(second.handle(), "DiscordCreate"));
    ASSERT_TRUE(createFirst && createSecond);
    EXPECT_NE(createFirst, createSecond) << "each copy runs its own code";
    EXPECT_EQ(dlsym(first.handle(), "_ZN3sdk7SdkCore12runCallbacksEv"), nullptr)
        << "the library's internals are not exported";

    setenv("VASKOR_SDK_ADDRESSES", "127.0.0.1", 1);
    DiscordNetworkEvents table{};
    table.onMessage = [](void* data, DiscordNetworkPeerId, DiscordNetworkChannelId, std::uint8_t*,
                         std::uint32_t) { ++static_cast<NetworkEvents*>(data)->messages; };
    table.onRouteUpdate = [](void* data, const char* route) {
        static_cast<NetworkEvents*>(data)->route = route;
    };
    NetworkEvents eventsA, eventsB;
    DiscordCreateParams paramsA{}, paramsB{};
    paramsA.networkEvents = paramsB.networkEvents = &table;
    paramsA.networkVersion = paramsB.networkVersion = discordEventTableVersion;
    paramsA.eventData = &eventsA;
    paramsB.eventData = &eventsB;
    DiscordCoreInterface* a = nullptr;
    DiscordCoreInterface* b = nullptr;
    ASSERT_EQ(createFirst(discordInterfaceVersion, &paramsA, &a), DiscordResult_Ok);
    ASSERT_EQ(createSecond(discordInterfaceVersion, &paramsB, &b), DiscordResult_Ok);
    unsetenv("VASKOR_SDK_ADDRESSES");
    a->runCallbacks(a);
    b->runCallbacks(b);
    ASSERT_FALSE(eventsA.route.empty() || eventsB.route.empty());

    auto* networkA = a->getNetworkManager(a);
    auto* networkB = b->getNetworkManager(b);
    DiscordNetworkPeerId idA = 0, idB = 0;
    networkA->getPeerId(networkA, &idA);
    networkB->getPeerId(networkB, &idB);
    ASSERT_EQ(networkA->openPeer(networkA, idB, eventsB.route.c_str()), DiscordResult_Ok);
    ASSERT_EQ(networkB->openPeer(networkB, idA, eventsA.route.c_str()), DiscordResult_Ok);
    networkA->openChannel(networkA, idB, 1, true);
    networkB->openChannel(networkB, idA, 1, true);
    const std::uint8_t byte = 1;
    ASSERT_EQ(networkA->sendMessage(networkA, idB, 1, &byte, 1), DiscordResult_Ok);
    for (int i = 0; i < 5000 && eventsB.messages == 0; ++i) {
        a->runCallbacks(a);
        b->runCallbacks(b);
        usleep(200);
    }
    EXPECT_EQ(eventsB.messages, 1);
    a->destroy(a);
    b->destroy(b);
}

} // namespace
