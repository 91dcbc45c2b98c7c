#include "tests/support/SdkNodes.h"
#include "tests/support/TestUdpSocket.h"

#include "discord/PendingCallbacks.h"
#include "interfaces/DiscordSdk.h"
#include "sdk/transport/Keys.h"
#include "sdk/transport/Route.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <stdexcept>

using namespace sdktest;
using discord::Result;

namespace {

// A UDP port held by someone else for the life of the object.
using HeldPort = testsupport::TestUdpSocket;

struct CreationCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> settings;
    Result expected;
};

class CoreCreationTest : public ::testing::TestWithParam<CreationCase> {};

TEST_P(CoreCreationTest, FailsWithResultAndNullCore) {
    const auto& param = GetParam();
    ScopedEnvironment loopback{{"VASKOR_SDK_ADDRESSES", "127.0.0.1"}};
    std::vector<std::unique_ptr<ScopedEnvironment>> settings;
    for (const auto& [name, value] : param.settings)
        settings.push_back(std::make_unique<ScopedEnvironment>(
            std::initializer_list<std::pair<std::string, std::string>>{{name, value}}));
    discord::Core* core = reinterpret_cast<discord::Core*>(0x1);
    EXPECT_EQ(discord::Core::Create(1, 1, &core), param.expected);
    EXPECT_EQ(core, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, CoreCreationTest,
    ::testing::Values(
        CreationCase{
            "ServiceUnavailable", {{"VASKOR_SDK_UNAVAILABLE", "1"}}, Result::ServiceUnavailable},
        CreationCase{"PortNotANumber", {{"VASKOR_SDK_PORT", "http"}}, Result::InvalidArgument},
        CreationCase{"PortTooLarge", {{"VASKOR_SDK_PORT", "65536"}}, Result::InvalidArgument},
        CreationCase{
            "AddressNotIpv4", {{"VASKOR_SDK_ADDRESSES", "10.0.0.300"}}, Result::InvalidArgument},
        CreationCase{"UserIdZero", {{"VASKOR_SDK_USER_ID", "0"}}, Result::InvalidArgument},
        CreationCase{
            "TimeoutNotANumber", {{"VASKOR_SDK_PEER_TIMEOUT_MS", "soon"}}, Result::InvalidArgument},
        CreationCase{"UnknownCipher", {{"VASKOR_SDK_CIPHER", "rot13"}}, Result::InvalidArgument},
        CreationCase{"PortMappingNotAFlag",
                     {{"VASKOR_SDK_PORT_MAPPING", "maybe"}},
                     Result::InvalidArgument}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CoreCreation, PortInUseFailsWithNetworkError) {
    HeldPort held(INADDR_ANY);
    ScopedEnvironment port{{"VASKOR_SDK_PORT", held.portText()}};
    discord::Core* core = nullptr;
    EXPECT_EQ(discord::Core::Create(1, 1, &core), Result::NetworkError);
    EXPECT_EQ(core, nullptr);
}

TEST(CoreCreation, OtherInterfaceVersionsAreRefused) {
    for (const std::uint32_t version : {0u, 1u, 3u}) {
        DiscordCreateParams params{};
        DiscordCoreInterface* core = reinterpret_cast<DiscordCoreInterface*>(0x1);
        EXPECT_EQ(DiscordCreate(version, &params, &core), DiscordResult_InvalidVersion)
            << "version " << version;
        EXPECT_EQ(core, nullptr);
    }
}

TEST(CoreCreation, EventTableOfAnotherVersionIsRefused) {
    DiscordNetworkEvents events{};
    DiscordCreateParams params{};
    params.networkEvents = &events;
    params.networkVersion = 2;
    DiscordCoreInterface* core = nullptr;
    EXPECT_EQ(DiscordCreate(discordInterfaceVersion, &params, &core), DiscordResult_InvalidVersion);
    EXPECT_EQ(core, nullptr);
    EXPECT_EQ(DiscordCreate(discordInterfaceVersion, nullptr, &core),
              DiscordResult_InvalidArgument);
    EXPECT_EQ(DiscordCreate(discordInterfaceVersion, &params, nullptr),
              DiscordResult_InvalidArgument);
}

TEST(CoreCreation, FixedPortIsUsedAndAnnounced) {
    std::string port;
    {
        HeldPort probe(INADDR_ANY);
        port = probe.portText();
    }
    auto node = Node::create({{"VASKOR_SDK_PORT", port}});
    ASSERT_TRUE(node);
    pumpUntil({node.get()}, [&] { return node->routeUpdates > 0; });
    EXPECT_NE(node->route.find("127.0.0.1:" + port), std::string::npos) << node->route;
}

TEST(CurrentUser, UpdateComesFirstThenLobbyCompletion) {
    auto node = Node::create({{"VASKOR_SDK_USER_ID", "4242"}, {"VASKOR_SDK_USER_NAME", "ada"}});
    ASSERT_TRUE(node);
    std::vector<std::string> order;
    node->core().UserManager().OnCurrentUserUpdate.Connect([&] { order.push_back("user"); });
    discord::LobbyTransaction transaction;
    ASSERT_EQ(node->core().LobbyManager().GetLobbyCreateTransaction(&transaction), Result::Ok);
    EXPECT_EQ(transaction.SetCapacity(8), Result::Ok);
    EXPECT_EQ(transaction.SetType(discord::LobbyType::Private), Result::Ok);
    node->core().LobbyManager().CreateLobby(transaction, [&](Result result, const discord::Lobby&) {
        expectInsideRunCallbacks();
        EXPECT_EQ(result, Result::Ok);
        order.push_back("lobby");
    });
    EXPECT_TRUE(order.empty()) << "nothing may run before RunCallbacks";
    node->run();
    EXPECT_EQ(order, (std::vector<std::string>{"user", "lobby"}));

    discord::User user;
    ASSERT_EQ(node->core().UserManager().GetCurrentUser(&user), Result::Ok);
    EXPECT_EQ(user.GetId(), 4242);
    EXPECT_STREQ(user.GetUsername(), "ada");
    node->run();
    EXPECT_EQ(node->userUpdates, 1) << "the user is reported once";
}

// Launched from an invitation: the join is the first thing after the user,
// before the core's own route; a text that is no invitation is refused.
TEST(CurrentUser, AnInvitationAtLaunchIsTheFirstJoin) {
    auto node = Node::create({{"VASKOR_SDK_JOIN", "vaskor1.launched"}});
    ASSERT_TRUE(node);
    std::vector<std::string> order;
    node->core().UserManager().OnCurrentUserUpdate.Connect([&] { order.push_back("user"); });
    node->core().ActivityManager().OnActivityJoin.Connect(
        [&](const char* secret) { order.push_back(std::string("join ") + secret); });
    node->network().OnRouteUpdate.Connect([&](const char*) { order.push_back("route"); });
    pumpUntil({node.get()}, [&] { return node->routeUpdates > 0; });
    EXPECT_EQ(order, (std::vector<std::string>{"user", "join vaskor1.launched", "route"}));

    for (const char* refused : {"hello", "vaskor1.with space"})
        EXPECT_FALSE(Node::create({{"VASKOR_SDK_JOIN", refused}})) << '"' << refused << '"';
}

TEST(CurrentUser, DefaultIdsDifferAndNameIsTheLoginName) {
    auto a = Node::create();
    auto b = Node::create();
    ASSERT_TRUE(a && b);
    discord::User userA, userB;
    a->core().UserManager().GetCurrentUser(&userA);
    b->core().UserManager().GetCurrentUser(&userB);
    EXPECT_GT(userA.GetId(), 0);
    EXPECT_NE(userA.GetId(), userB.GetId());
    EXPECT_STRNE(userA.GetUsername(), "");
    EXPECT_NE(a->peerId, b->peerId);
}

TEST(Route, ReportedInFirstRunCallbacksAndNamesKeyAndEndpoint) {
    auto node = Node::create();
    ASSERT_TRUE(node);
    EXPECT_EQ(node->routeUpdates, 0);
    node->run();
    ASSERT_EQ(node->routeUpdates, 1);
    EXPECT_LE(node->route.size(), 4095u);
    const auto route = sdk::transport::parseRoute(node->route);
    ASSERT_TRUE(route) << node->route;
    EXPECT_EQ(sdk::transport::peerIdOf(route->key), node->peerId)
        << "the peer id is bound to the route's key";
    ASSERT_EQ(route->endpoints.size(), 1u);
    EXPECT_EQ(route->endpoints[0].address, INADDR_LOOPBACK);
    EXPECT_NE(route->endpoints[0].port, 0);
    pumpFor({node.get()}, std::chrono::milliseconds(50));
    EXPECT_EQ(node->routeUpdates, 1) << "an unchanged route is not reported again";
}

TEST(Callbacks, OperationsWithoutALobbyCompleteInsideRunCallbacks) {
    auto node = Node::create();
    ASSERT_TRUE(node);
    auto& core = node->core();
    std::vector<Result> results;
    const auto record = [&](Result result) {
        expectInsideRunCallbacks();
        results.push_back(result);
    };
    discord::Activity activity;
    core.ActivityManager().UpdateActivity(activity, record);
    core.OverlayManager().OpenActivityInvite(discord::ActivityActionType::Join, record);
    core.LobbyManager().ConnectLobbyWithActivitySecret(
        "vaskor1.x", [&](Result result, const discord::Lobby& lobby) {
            EXPECT_EQ(lobby.GetId(), 0);
            record(result);
        });
    discord::LobbyMemberTransaction member;
    ASSERT_EQ(core.LobbyManager().GetMemberUpdateTransaction(1, 2, &member), Result::Ok);
    EXPECT_EQ(member.SetMetadata("$net.peer_id", "12"), Result::Ok);
    core.LobbyManager().UpdateMember(1, 2, member, record);
    EXPECT_TRUE(results.empty());
    node->run();
    // The activity is kept; there is no invitation without a join secret, no
    // lobby behind a malformed secret, and no lobby 1 to update.
    EXPECT_EQ(results, (std::vector<Result>{Result::Ok, Result::NotFound, Result::InvalidSecret,
                                            Result::NotFound}));

    std::int32_t count = 7;
    EXPECT_EQ(core.LobbyManager().MemberCount(1, &count), Result::NotFound);
    EXPECT_EQ(count, 0);
    char value[discordMetadataValueSize];
    std::memset(value, 'x', sizeof value);
    EXPECT_EQ(core.LobbyManager().GetMemberMetadataValue(1, 2, "$net.route", value),
              Result::NotFound);
    EXPECT_EQ(value[0], 'x') << "a missing value leaves the buffer untouched";
}

TEST(Callbacks, UnusedManagersAnswerNotSupported) {
    DiscordCreateParams params{};
    DiscordCoreInterface* core = nullptr;
    ScopedEnvironment loopback{{"VASKOR_SDK_ADDRESSES", "127.0.0.1"}};
    ASSERT_EQ(DiscordCreate(discordInterfaceVersion, &params, &core), DiscordResult_Ok);
    int completions = 0;
    std::int32_t count = 5;
    auto* relationships = core->getRelationshipManager(core);
    EXPECT_EQ(relationships->count(relationships, &count), DiscordResult_NotSupported);
    auto* store = core->getStoreManager(core);
    EXPECT_EQ(store->countSkus(store, &count), DiscordResult_NotSupported);
    store->fetchSkus(store, &completions, [](void* data, DiscordResultCode result) {
        EXPECT_EQ(result, DiscordResult_NotSupported);
        ++*static_cast<int*>(data);
    });
    auto* voice = core->getVoiceManager(core);
    EXPECT_EQ(voice->setSelfMute(voice, true), DiscordResult_NotSupported);
    auto* achievements = core->getAchievementManager(core);
    EXPECT_EQ(achievements->countUserAchievements(achievements, &count),
              DiscordResult_NotSupported);
    achievements->setUserAchievement(achievements, 1, 100, nullptr, nullptr);
    EXPECT_EQ(completions, 0);
    EXPECT_EQ(core->runCallbacks(core), DiscordResult_Ok);
    EXPECT_EQ(completions, 1);
    core->destroy(core);
}

TEST(Callbacks, DestroyedCoreCallsNothingAndFreesWaitingHandlers) {
    auto node = Node::create();
    ASSERT_TRUE(node);
    int calls = 0;
    node->core().ActivityManager().UpdateActivity(discord::Activity{}, [&](Result) { ++calls; });
    node->core().UserManager().OnCurrentUserUpdate.Connect([&] { ++calls; });
    node->destroy();
    EXPECT_EQ(calls, 0);
}

TEST(Records, ActivityTextIsCutTo127Bytes) {
    const std::string longText(300, 'a');
    discord::Activity activity;
    activity.SetState(longText.c_str());
    activity.GetSecrets().SetJoin(longText.c_str());
    activity.GetParty().SetId("-42");
    activity.GetParty().GetSize().SetCurrentSize(2);
    activity.GetParty().GetSize().SetMaxSize(8);
    EXPECT_EQ(std::strlen(activity.GetState()), 127u);
    const DiscordActivity internal = activity.Internal();
    EXPECT_EQ(std::strlen(internal.secrets.join), 127u);
    EXPECT_EQ(internal.state[127], '\0');
    EXPECT_STREQ(internal.party.id, "-42");
    EXPECT_EQ(internal.party.size.currentSize, 2);
    EXPECT_EQ(internal.party.size.maxSize, 8);

    DiscordActivity unterminated{};
    std::memset(unterminated.details, 'b', sizeof unterminated.details);
    EXPECT_EQ(std::strlen(discord::Activity(unterminated).GetDetails()), 127u);
}

TEST(Events, HandlersMayConnectAndDisconnectWhileDelivering) {
    discord::Event<int> event;
    std::vector<std::string> calls;
    discord::Event<int>::Token self = 0;
    self = event.Connect([&](int value) {
        calls.push_back("once " + std::to_string(value));
        event.Disconnect(self);
        event.Connect([&](int later) { calls.push_back("late " + std::to_string(later)); });
    });
    event.Connect([&](int value) { calls.push_back("always " + std::to_string(value)); });
    event(1);
    event(2);
    EXPECT_EQ(calls, (std::vector<std::string>{"once 1", "always 1", "always 2", "late 2"}));
}

// A handler that throws must leave the event as it was: a handler
// disconnected afterwards is released at once, as without the throw.
TEST(Events, AThrowingHandlerLeavesTheEventUsable) {
    discord::Event<int> event;
    auto held = std::make_shared<int>(0);
    const auto holder = event.Connect([held](int) {});
    event.Connect([](int value) {
        if (value == 1)
            throw std::runtime_error("handler failed");
    });
    EXPECT_THROW(event(1), std::runtime_error);
    event.Disconnect(holder);
    EXPECT_EQ(held.use_count(), 1) << "the disconnected handler is still kept";
    int calls = 0;
    event.Connect([&](int) { ++calls; });
    event(2);
    EXPECT_EQ(calls, 1);
}

// A completion handler that throws is freed like one that returns.
TEST(PendingCallbacks, AThrowingHandlerIsFreed) {
    auto held = std::make_shared<int>(0);
    {
        discord::PendingCallbacks pending;
        void* data = pending.hold(
            std::function<void(int)>([held](int) { throw std::runtime_error("handler failed"); }));
        EXPECT_THROW(discord::PendingCallbacks::call<int>(data, 1), std::runtime_error);
        EXPECT_EQ(held.use_count(), 1) << "the handler outlived its call";
    }
    EXPECT_EQ(held.use_count(), 1) << "the handler leaked";
}

} // namespace
