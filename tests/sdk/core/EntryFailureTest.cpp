// A failure inside the SDK reaches the program as a result code, never as an
// exception across the C interface: each entry point made to fail (as if
// something had thrown inside it) answers InternalError, or its completion
// does at the next RunCallbacks; the core goes on working afterwards.
// Under Wine in the Windows build, where the SDK is a library with its own
// runtime.

#include "tests/support/SdkNodes.h"

#include <functional>
#include <optional>

using namespace sdktest;
using discord::Result;

namespace {

// RunCallbacks as the program calls it, its result kept.
Result runCallbacks(Node& node) {
    insideRunCallbacks = true;
    const Result result = node.core().RunCallbacks();
    insideRunCallbacks = false;
    return result;
}

// What the program sees of one call: a result at once, or a completion's.
using Call = std::function<std::optional<Result>(Node&)>;

std::optional<Result> completed(Node& node,
                                const std::function<void(std::optional<Result>&)>& start) {
    std::optional<Result> result;
    start(result);
    EXPECT_FALSE(result) << "a completion ran outside RunCallbacks";
    pumpUntil({&node}, [&] { return result.has_value(); });
    return result;
}

struct FailureCase {
    const char* entry;
    Call call;
};

const FailureCase failureCases[] = {
    {"runCallbacks", [](Node& node) { return std::optional(runCallbacks(node)); }},
    {"sendMessage",
     [](Node& node) {
         const std::uint8_t bytes[] = {1, 2, 3};
         return std::optional(node.network().SendMessage(node.peerId, 0, bytes, sizeof bytes));
     }},
    {"flush", [](Node& node) { return std::optional(node.network().Flush()); }},
    {"getCurrentUser",
     [](Node& node) {
         discord::User user;
         return std::optional(node.core().UserManager().GetCurrentUser(&user));
     }},
    {"getLobbyCreateTransaction",
     [](Node& node) {
         discord::LobbyTransaction transaction;
         return std::optional(node.core().LobbyManager().GetLobbyCreateTransaction(&transaction));
     }},
    {"createLobby",
     [](Node& node) {
         return completed(node, [&](std::optional<Result>& result) {
             discord::LobbyTransaction transaction;
             EXPECT_EQ(node.core().LobbyManager().GetLobbyCreateTransaction(&transaction),
                       Result::Ok);
             node.core().LobbyManager().CreateLobby(
                 transaction, [&](Result got, const discord::Lobby&) { result = got; });
         });
     }},
    {"connectLobbyWithActivitySecret",
     [](Node& node) {
         return completed(node, [&](std::optional<Result>& result) {
             node.core().LobbyManager().ConnectLobbyWithActivitySecret(
                 "vaskor1.AAAA", [&](Result got, const discord::Lobby&) { result = got; });
         });
     }},
    {"getUser",
     [](Node& node) {
         return completed(node, [&](std::optional<Result>& result) {
             discord::User own;
             node.core().UserManager().GetCurrentUser(&own);
             node.core().UserManager().GetUser(
                 own.GetId(), [&](Result got, const discord::User&) { result = got; });
         });
     }},
    {"updateActivity",
     [](Node& node) {
         return completed(node, [&](std::optional<Result>& result) {
             node.core().ActivityManager().UpdateActivity(discord::Activity(),
                                                          [&](Result got) { result = got; });
         });
     }},
    {"openActivityInvite",
     [](Node& node) {
         return completed(node, [&](std::optional<Result>& result) {
             node.core().OverlayManager().OpenActivityInvite(discord::ActivityActionType::Join,
                                                             [&](Result got) { result = got; });
         });
     }},
};

TEST(EntryFailure, EachEntryPointAnswersWithAResultAndTheCoreGoesOn) {
    for (const auto& c : failureCases) {
        SCOPED_TRACE(c.entry);
        auto node = Node::create({{"VASKOR_SDK_FAULT", c.entry}});
        ASSERT_TRUE(node);
        EXPECT_EQ(c.call(*node), Result::InternalError);
        // Only that entry fails: the core is whole.
        if (std::string(c.entry) != "runCallbacks") {
            EXPECT_EQ(runCallbacks(*node), Result::Ok);
            EXPECT_TRUE(pumpUntil({node.get()}, [&] { return node->userUpdates == 1; }));
        }
        discord::User own;
        if (std::string(c.entry) != "getCurrentUser") {
            EXPECT_EQ(node->core().UserManager().GetCurrentUser(&own), Result::Ok);
        }
    }
}

TEST(EntryFailure, TheSameCallsSucceedWithoutTheFault) {
    auto node = Node::create();
    ASSERT_TRUE(node);
    for (const auto& c : failureCases) {
        if (std::string(c.entry) == "connectLobbyWithActivitySecret")
            continue; // a made-up secret fails of its own
        EXPECT_NE(c.call(*node), Result::InternalError) << c.entry;
    }
}

TEST(EntryFailure, CreationAnswersWithAResultAndNoCore) {
    ScopedEnvironment loopback{{"VASKOR_SDK_ADDRESSES", "127.0.0.1"},
                               {"VASKOR_SDK_CLIENT", "0"},
                               {"VASKOR_SDK_FAULT", "DiscordCreate"}};
    discord::Core* core = reinterpret_cast<discord::Core*>(0x1);
    EXPECT_EQ(discord::Core::Create(1, 1, &core), Result::InternalError);
    EXPECT_EQ(core, nullptr);
}

} // namespace
