#pragma once

// Cores with lobbies, in one process: a host and its members, with every
// lobby event, completion and invitation recorded.

#include "tests/support/PumpUntil.h"
#include "tests/support/SdkNodes.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace lobbytest {

using discord::LobbyId;
using discord::Result;
using discord::UserId;
using sdktest::Node;

struct LobbyEvent {
    std::string kind; // connect, update, disconnect, delete
    LobbyId lobby = 0;
    UserId user = 0;

    bool operator==(const LobbyEvent&) const = default;
};

struct Completion {
    Result result = Result::InternalError;
    discord::Lobby lobby;
};

class LobbyNode {
public:
    explicit LobbyNode(std::unique_ptr<Node> node) : sdkNode(std::move(node)) {
        auto& lobbies = this->lobbies();
        lobbies.OnMemberConnect.Connect(
            [this](LobbyId lobby, UserId user) { record("connect", lobby, user); });
        lobbies.OnMemberUpdate.Connect(
            [this](LobbyId lobby, UserId user) { record("update", lobby, user); });
        lobbies.OnMemberDisconnect.Connect(
            [this](LobbyId lobby, UserId user) { record("disconnect", lobby, user); });
        lobbies.OnLobbyDelete.Connect(
            [this](LobbyId lobby, std::uint32_t) { record("delete", lobby, 0); });
        sdkNode->core().ActivityManager().OnActivityJoin.Connect([this](const char* secret) {
            sdktest::expectInsideRunCallbacks();
            joins.push_back(secret);
        });
        discord::User user;
        sdkNode->core().UserManager().GetCurrentUser(&user);
        userId = user.GetId();
    }

    // A loopback core without a client window; extra settings if given.
    static std::unique_ptr<LobbyNode>
    create(std::initializer_list<std::pair<std::string, std::string>> settings = {}) {
        auto node = Node::create(settings);
        return node ? std::make_unique<LobbyNode>(std::move(node)) : nullptr;
    }

    Node& node() { return *sdkNode; }
    discord::Core& core() { return sdkNode->core(); }
    discord::LobbyManager& lobbies() { return sdkNode->core().LobbyManager(); }
    void run() { sdkNode->run(); }
    void destroy() { sdkNode->destroy(); }
    bool alive() const { return sdkNode->alive(); }

    void createLobby(std::uint32_t capacity = 8) {
        discord::LobbyTransaction transaction;
        ASSERT_EQ(lobbies().GetLobbyCreateTransaction(&transaction), Result::Ok);
        ASSERT_EQ(transaction.SetCapacity(capacity), Result::Ok);
        ASSERT_EQ(transaction.SetType(discord::LobbyType::Private), Result::Ok);
        lobbies().CreateLobby(transaction, [this](Result result, const discord::Lobby& lobby) {
            sdktest::expectInsideRunCallbacks();
            completion = Completion{result, lobby};
        });
    }

    void connect(const std::string& secret) {
        lobbies().ConnectLobbyWithActivitySecret(
            secret.c_str(), [this](Result result, const discord::Lobby& lobby) {
                sdktest::expectInsideRunCallbacks();
                EXPECT_FALSE(completion) << "a connection completes once";
                completion = Completion{result, lobby};
                completedAt = std::chrono::steady_clock::now();
            });
    }

    bool connected() const { return completion && completion->result == Result::Ok; }
    LobbyId lobbyId() const { return completion ? completion->lobby.GetId() : 0; }

    std::string secret() {
        char text[discordTextSize] = {};
        EXPECT_EQ(lobbies().GetLobbyActivitySecret(lobbyId(), text), Result::Ok);
        return text;
    }

    std::vector<UserId> memberIds() {
        std::int32_t count = 0;
        lobbies().MemberCount(lobbyId(), &count);
        std::vector<UserId> ids;
        for (std::int32_t i = 0; i < count; ++i) {
            UserId id = 0;
            EXPECT_EQ(lobbies().GetMemberUserId(lobbyId(), i, &id), Result::Ok);
            ids.push_back(id);
        }
        return ids;
    }

    // The name this core's SDK gives for a user (GetUser); nothing when it
    // does not know the user.
    std::optional<std::string> userName(UserId user) {
        std::optional<std::string> name;
        bool answered = false;
        core().UserManager().GetUser(user, [&](Result result, const discord::User& found) {
            answered = true;
            if (result == Result::Ok)
                name = found.GetUsername();
        });
        run();
        EXPECT_TRUE(answered) << "GetUser answers in the next RunCallbacks";
        return name;
    }

    // The value as the engine reads it; nothing when the key is missing.
    std::optional<std::string> metadata(UserId user, const char* key) {
        char value[discordMetadataValueSize] = {};
        if (lobbies().GetMemberMetadataValue(lobbyId(), user, key, value) != Result::Ok)
            return std::nullopt;
        return std::string(value);
    }

    Result update(std::initializer_list<std::pair<const char*, const char*>> values) {
        discord::LobbyMemberTransaction transaction;
        EXPECT_EQ(lobbies().GetMemberUpdateTransaction(lobbyId(), userId, &transaction),
                  Result::Ok);
        for (const auto& [key, value] : values)
            EXPECT_EQ(transaction.SetMetadata(key, value), Result::Ok);
        Result answer = Result::InternalError;
        bool answered = false;
        lobbies().UpdateMember(lobbyId(), userId, transaction, [&](Result result) {
            answer = result;
            answered = true;
        });
        run();
        EXPECT_TRUE(answered) << "UpdateMember completes in the next RunCallbacks";
        return answer;
    }

    std::vector<LobbyEvent> eventsOf(const std::string& kind) const {
        std::vector<LobbyEvent> out;
        for (const auto& event : events)
            if (event.kind == kind)
                out.push_back(event);
        return out;
    }

    UserId userId = 0;
    std::optional<Completion> completion;
    std::chrono::steady_clock::time_point completedAt{};
    std::vector<LobbyEvent> events;
    std::vector<std::string> joins;

private:
    void record(const char* kind, LobbyId lobby, UserId user) {
        sdktest::expectInsideRunCallbacks();
        events.push_back(LobbyEvent{kind, lobby, user});
    }

    std::unique_ptr<Node> sdkNode;
};

using Nodes = std::vector<LobbyNode*>;

inline void pumpOnce(LobbyNode& node) {
    node.run();
}

using testsupport::pumpFor;
using testsupport::pumpUntil;

// A host and its members, for tests of one lobby on loopback.
class LobbyFixture : public ::testing::Test {
protected:
    // A host with a lobby of the given capacity, its route reported.
    void host(std::uint32_t capacity = 8,
              std::initializer_list<std::pair<std::string, std::string>> settings = {}) {
        hostNode = LobbyNode::create(settings);
        ASSERT_TRUE(hostNode);
        hostNode->createLobby(capacity);
        hostNode->run();
        ASSERT_TRUE(hostNode->connected());
    }

    LobbyNode& join(std::initializer_list<std::pair<std::string, std::string>> settings = {}) {
        members.push_back(LobbyNode::create(settings));
        LobbyNode& member = *members.back();
        member.connect(hostNode->secret());
        EXPECT_TRUE(pumpUntil(all(), [&] { return member.completion.has_value(); }));
        EXPECT_TRUE(member.connected());
        return member;
    }

    // The nodes whose cores are alive.
    Nodes all() {
        Nodes nodes;
        if (hostNode && hostNode->alive())
            nodes.push_back(hostNode.get());
        for (auto& member : members)
            if (member->alive())
                nodes.push_back(member.get());
        return nodes;
    }

    std::unique_ptr<LobbyNode> hostNode;
    std::vector<std::unique_ptr<LobbyNode>> members;
};

} // namespace lobbytest
