// Lobbies between several cores of one process on loopback.

#include "tests/support/LobbyNodes.h"

#include "sdk/lobby/JoinSecret.h"
#include "sdk/lobby/UserName.h"

#include <algorithm>

using namespace lobbytest;
using namespace std::chrono_literals;

namespace {

// Short enough that silent peers are noticed within a test.
const std::pair<std::string, std::string> shortTimeout{"VASKOR_SDK_PEER_TIMEOUT_MS", "1500"};

class LobbyTest : public LobbyFixture {
protected:
    // Settles: every pending message delivered everywhere.
    void settle() { pumpFor(all(), 150ms); }
};

TEST_F(LobbyTest, CreatedLobbyIsTheHostsWithItsSettingsAndSecret) {
    host();
    const auto& lobby = hostNode->completion->lobby;
    EXPECT_GT(lobby.GetId(), 0);
    EXPECT_EQ(lobby.GetOwnerId(), hostNode->userId);
    EXPECT_EQ(lobby.GetCapacity(), 8u);
    EXPECT_EQ(lobby.GetType(), discord::LobbyType::Private);
    EXPECT_EQ(hostNode->memberIds(), std::vector<UserId>{hostNode->userId});
    EXPECT_FALSE(hostNode->metadata(hostNode->userId, "$net.route")) << "own metadata starts empty";

    const std::string secret = hostNode->secret();
    EXPECT_TRUE(secret.starts_with("vaskor1."));
    EXPECT_LE(secret.size(), 127u);
    EXPECT_TRUE(
        std::all_of(secret.begin(), secret.end(), [](char c) { return c > ' ' && c < 127; }));
    const auto parsed = sdk::lobby::parseJoinSecret(secret);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->lobbyId, lobby.GetId());
    EXPECT_EQ(parsed->endpoints.at(0).ipv4(), 0x7f000001u);

    char other[discordTextSize] = {};
    EXPECT_EQ(hostNode->lobbies().GetLobbyActivitySecret(lobby.GetId() + 1, other),
              Result::NotFound);
}

// Each core sends its user's name with its join; every core learns every
// member's name, the host's included, and cleans nothing it receives: a name
// arrives valid or the message is refused.
TEST_F(LobbyTest, EveryMemberKnowsEveryMembersName) {
    host(8, {{"VASKOR_SDK_USER_NAME", "Ana"}});
    auto& first = join({{"VASKOR_SDK_USER_NAME", "Bruno"}});
    const std::string hostile = "eve\x1b[2J\n" + std::string(100, 'e');
    auto& second = join({{"VASKOR_SDK_USER_NAME", hostile}});
    const std::string secondName = "eve[2J" + std::string(sdk::lobby::maxUserNameBytes - 6, 'e');
    auto& third = join({{"VASKOR_SDK_USER_NAME", "カルラ"}});
    settle();
    const std::vector<std::pair<UserId, std::string>> names{{hostNode->userId, "Ana"},
                                                            {first.userId, "Bruno"},
                                                            {second.userId, secondName},
                                                            {third.userId, "カルラ"}};
    for (auto* node : all()) {
        ASSERT_EQ(node->memberIds().size(), names.size());
        for (const auto& [user, name] : names)
            EXPECT_EQ(node->userName(user), name) << "seen by " << node->userId;
        EXPECT_FALSE(node->userName(12345)) << "not a member: unknown";
    }
    discord::User own;
    ASSERT_EQ(second.core().UserManager().GetCurrentUser(&own), Result::Ok);
    EXPECT_EQ(own.GetUsername(), secondName) << "a core's own name is the one others see";

    first.destroy();
    ASSERT_TRUE(pumpUntil(all(), [&] { return hostNode->memberIds().size() == 3; }));
    settle();
    EXPECT_FALSE(second.userName(first.userId)) << "a member that left is unknown again";
}

TEST_F(LobbyTest, MembersJoinWithTheSecretAndAllSeeOneMemberList) {
    host();
    auto& first = join();
    auto& second = join();
    settle();
    const std::vector<UserId> expected{hostNode->userId, first.userId, second.userId};
    for (auto* node : all()) {
        EXPECT_EQ(node->lobbyId(), hostNode->lobbyId());
        EXPECT_EQ(node->memberIds(), expected);
    }
    EXPECT_EQ(first.completion->lobby.GetOwnerId(), hostNode->userId);
    EXPECT_EQ(first.completion->lobby.GetCapacity(), 8u);
    EXPECT_FALSE(first.metadata(first.userId, "$net.peer_id")) << "nothing written yet";

    const auto lobby = hostNode->lobbyId();
    EXPECT_EQ(hostNode->eventsOf("connect"),
              (std::vector<LobbyEvent>{{"connect", lobby, first.userId},
                                       {"connect", lobby, second.userId}}));
    EXPECT_EQ(first.eventsOf("connect"),
              (std::vector<LobbyEvent>{{"connect", lobby, second.userId}}));
    EXPECT_TRUE(second.eventsOf("connect").empty()) << "the members before it came with the list";
}

TEST_F(LobbyTest, MetadataReachesEveryoneTheSenderIncludedInOneOrder) {
    host();
    auto& first = join();
    auto& second = join();
    settle();
    ASSERT_EQ(hostNode->update({{"$net.peer_id", "1"}, {"$net.route", "host route"}}), Result::Ok);
    // Written in one pass by both members: the host's order decides for all.
    ASSERT_EQ(first.update({{"$net.peer_id", "22"}, {"$net.route", "first route"}}), Result::Ok);
    ASSERT_EQ(second.update({{"$net.peer_id", "333"}}), Result::Ok);
    EXPECT_FALSE(first.metadata(first.userId, "$net.peer_id"))
        << "a member's own change counts once the host sends it back";
    settle();
    // The route changes: only that key is written again.
    ASSERT_EQ(first.update({{"$net.route", "first route, moved"}}), Result::Ok);
    settle();

    const auto updates = hostNode->eventsOf("update");
    ASSERT_EQ(updates.size(), 4u);
    for (auto* node : all()) {
        EXPECT_EQ(node->eventsOf("update"), updates) << "same updates in the same order";
        EXPECT_EQ(node->metadata(hostNode->userId, "$net.route"), "host route");
        EXPECT_EQ(node->metadata(first.userId, "$net.peer_id"), "22");
        EXPECT_EQ(node->metadata(first.userId, "$net.route"), "first route, moved");
        EXPECT_EQ(node->metadata(second.userId, "$net.peer_id"), "333");
        EXPECT_FALSE(node->metadata(second.userId, "$net.route"));
    }
    EXPECT_EQ(std::count(updates.begin(), updates.end(),
                         LobbyEvent{"update", hostNode->lobbyId(), first.userId}),
              2);

    // A late joiner gets everything written so far with the list.
    auto& third = join();
    EXPECT_EQ(third.metadata(first.userId, "$net.route"), "first route, moved");
    EXPECT_EQ(third.metadata(hostNode->userId, "$net.peer_id"), "1");
}

TEST_F(LobbyTest, MissingMetadataLeavesTheBufferAndOthersCannotBeWritten) {
    host();
    auto& member = join();
    settle();
    char value[discordMetadataValueSize];
    std::fill(std::begin(value), std::end(value), 'x');
    EXPECT_EQ(member.lobbies().GetMemberMetadataValue(member.lobbyId(), hostNode->userId, "absent",
                                                      value),
              Result::NotFound);
    EXPECT_EQ(value[0], 'x');
    EXPECT_EQ(member.lobbies().GetMemberMetadataValue(member.lobbyId(), 12345, "$net.route", value),
              Result::NotFound);

    // The longest value arrives whole and NUL-terminated in the 4096 bytes.
    const std::string longest(4095, 'v');
    ASSERT_EQ(member.update({{"key", longest.c_str()}}), Result::Ok);
    settle();
    EXPECT_EQ(hostNode->metadata(member.userId, "key"), longest);

    discord::LobbyMemberTransaction transaction;
    ASSERT_EQ(member.lobbies().GetMemberUpdateTransaction(member.lobbyId(), hostNode->userId,
                                                          &transaction),
              Result::Ok);
    transaction.SetMetadata("key", "forged");
    std::optional<Result> answer;
    member.lobbies().UpdateMember(member.lobbyId(), hostNode->userId, transaction,
                                  [&](Result result) { answer = result; });
    settle();
    EXPECT_EQ(answer, Result::InvalidArgument) << "a member writes only its own metadata";
    EXPECT_FALSE(hostNode->metadata(hostNode->userId, "key"));
}

TEST_F(LobbyTest, LeavingOrSilentMembersDisconnectEverywhere) {
    host(8, {shortTimeout});
    auto& leaving = join({shortTimeout});
    auto& silent = join({shortTimeout});
    auto& staying = join({shortTimeout});
    settle();
    const auto lobby = hostNode->lobbyId();

    const UserId leavingId = leaving.userId;
    leaving.destroy();
    ASSERT_TRUE(pumpUntil(
        all(),
        [&] {
            return !staying.eventsOf("disconnect").empty() &&
                   !hostNode->eventsOf("disconnect").empty();
        },
        1000ms))
        << "a core that is destroyed says so at once";
    EXPECT_EQ(hostNode->eventsOf("disconnect"),
              (std::vector<LobbyEvent>{{"disconnect", lobby, leavingId}}));

    // silent stops answering: only the others are pumped.
    const UserId silentId = silent.userId;
    Nodes others{hostNode.get(), &staying};
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(pumpUntil(
        others, [&] { return staying.eventsOf("disconnect").size() == 2; }, 4000ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1000ms) << "not before the time-out";
    EXPECT_EQ(staying.eventsOf("disconnect").back(), (LobbyEvent{"disconnect", lobby, silentId}));
    for (auto* node : others)
        EXPECT_EQ(node->memberIds(), (std::vector<UserId>{hostNode->userId, staying.userId}));
    EXPECT_TRUE(staying.eventsOf("delete").empty());
}

TEST_F(LobbyTest, NinthMemberIsRefusedAndTheEightCarryOn) {
    host();
    for (int i = 0; i < 7; ++i)
        join();
    settle();
    ASSERT_EQ(hostNode->memberIds().size(), 8u);
    std::vector<std::size_t> eventsBefore;
    for (auto* node : all())
        eventsBefore.push_back(node->events.size());

    auto ninth = LobbyNode::create();
    ninth->connect(hostNode->secret());
    Nodes nodes = all();
    nodes.push_back(ninth.get());
    ASSERT_TRUE(pumpUntil(nodes, [&] { return ninth->completion.has_value(); }));
    EXPECT_EQ(ninth->completion->result, Result::LobbyFull);
    EXPECT_EQ(ninth->completion->lobby.GetId(), 0);
    pumpFor(nodes, 200ms);
    std::size_t index = 0;
    for (auto* node : all()) {
        EXPECT_EQ(node->memberIds().size(), 8u);
        EXPECT_EQ(node->events.size(), eventsBefore[index++]) << "nobody saw the ninth";
    }
    // The eight still talk.
    ASSERT_EQ(members.back()->update({{"still", "here"}}), Result::Ok);
    settle();
    EXPECT_EQ(hostNode->metadata(members.back()->userId, "still"), "here");
}

std::string withLobbyKeyFlipped(const std::string& text) {
    auto secret = *sdk::lobby::parseJoinSecret(text);
    secret.lobbyKey[0] ^= 1;
    return sdk::lobby::formatJoinSecret(secret);
}

std::string withLobbyId(const std::string& text, std::int64_t id) {
    auto secret = *sdk::lobby::parseJoinSecret(text);
    secret.lobbyId = id;
    return sdk::lobby::formatJoinSecret(secret);
}

std::string withPort(const std::string& text, std::uint16_t port) {
    auto secret = *sdk::lobby::parseJoinSecret(text);
    secret.endpoints = {{0x7f000001u, port}};
    return sdk::lobby::formatJoinSecret(secret);
}

std::string withCharacterChanged(std::string text) {
    char& c = text[text.size() / 2];
    c = c == 'A' ? 'B' : 'A';
    return text;
}

TEST_F(LobbyTest, WrongSecretsFailWithinTheTimeOutAndAdmitNobody) {
    host(8, {shortTimeout});
    const std::string secret = hostNode->secret();
    struct Case {
        const char* what;
        std::string secret;
        Result expected;
    };
    const std::vector<Case> cases{
        {"empty", "", Result::InvalidSecret},
        {"not ours", "hello", Result::InvalidSecret},
        {"prefix only", "vaskor1.", Result::InvalidSecret},
        {"cut short", secret.substr(0, secret.size() - 7), Result::InvalidSecret},
        {"a character changed", withCharacterChanged(secret), Result::InvalidSecret},
        {"another lobby key", withLobbyKeyFlipped(secret), Result::InvalidSecret},
        {"another lobby id", withLobbyId(secret, hostNode->lobbyId() ^ 0x10), Result::NotFound},
        {"nobody at the endpoint", withPort(secret, 9), Result::NetworkError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto member = LobbyNode::create({shortTimeout});
        member->connect(c.secret);
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(pumpUntil(
            {hostNode.get(), member.get()}, [&] { return member->completion.has_value(); },
            3000ms));
        EXPECT_LE(std::chrono::steady_clock::now() - start, 2500ms);
        EXPECT_EQ(member->completion->result, c.expected);
        std::int32_t count = -1;
        EXPECT_EQ(member->lobbies().MemberCount(hostNode->lobbyId(), &count), Result::NotFound);
    }
    settle();
    EXPECT_EQ(hostNode->memberIds(), std::vector<UserId>{hostNode->userId});
    EXPECT_TRUE(hostNode->events.empty());
}

TEST_F(LobbyTest, SecretOfAGoneHostFailsWithinTheTimeOut) {
    host(8, {shortTimeout});
    const std::string stale = hostNode->secret();
    hostNode->destroy();
    auto member = LobbyNode::create({shortTimeout});
    member->connect(stale);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(pumpUntil(
        {member.get()}, [&] { return member->completion.has_value(); }, 3000ms));
    EXPECT_LE(std::chrono::steady_clock::now() - start, 2000ms);
    EXPECT_EQ(member->completion->result, Result::NetworkError);
}

TEST_F(LobbyTest, DestroyedHostDeletesTheLobbyForEveryMemberWithinASecond) {
    host();
    auto& first = join();
    auto& second = join();
    settle();
    const auto lobby = hostNode->lobbyId();
    hostNode->destroy();
    ASSERT_TRUE(pumpUntil(
        all(),
        [&] { return !first.eventsOf("delete").empty() && !second.eventsOf("delete").empty(); },
        1000ms));
    for (auto* member : {&first, &second}) {
        EXPECT_EQ(member->eventsOf("delete"), (std::vector<LobbyEvent>{{"delete", lobby, 0}}));
        std::int32_t count = -1;
        EXPECT_EQ(member->lobbies().MemberCount(lobby, &count), Result::NotFound);
        EXPECT_EQ(count, 0);
    }
}

TEST_F(LobbyTest, SilentHostIsNoticedByTheTimeOut) {
    host(8, {shortTimeout});
    auto& member = join({shortTimeout});
    settle();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(pumpUntil(
        {&member}, [&] { return !member.eventsOf("delete").empty(); }, 4000ms));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 1000ms);
    EXPECT_LE(waited, 3000ms);
}

TEST_F(LobbyTest, ProgramHearsNoOneButMembersAndPeersItOpened) {
    host(8, {shortTimeout});
    auto& member = join({shortTimeout});
    // A stranger who learnt the host's route (its key) but not the secret.
    auto stranger = LobbyNode::create({shortTimeout});
    Nodes nodes{hostNode.get(), &member, stranger.get()};
    ASSERT_TRUE(pumpUntil(nodes, [&] {
        return !hostNode->node().route.empty() && !member.node().route.empty() &&
               !stranger->node().route.empty();
    }));
    stranger->node().open(hostNode->node());
    member.node().open(hostNode->node());
    const std::uint8_t byte = 7;
    pumpFor(nodes, 300ms);
    stranger->node().network().SendMessage(hostNode->node().peerId, 0, &byte, 1);
    member.node().network().SendMessage(hostNode->node().peerId, 0, &byte, 1);
    pumpFor(nodes, 300ms);
    ASSERT_EQ(hostNode->node().received.size(), 1u);
    EXPECT_EQ(hostNode->node().received[0].peer, member.node().peerId);
    EXPECT_EQ(hostNode->memberIds(), (std::vector<UserId>{hostNode->userId, member.userId}));
}

TEST_F(LobbyTest, SecondLobbyOnOneCoreIsRefused) {
    host();
    auto& member = join();
    std::optional<Result> again;
    hostNode->lobbies().ConnectLobbyWithActivitySecret(
        hostNode->secret().c_str(), [&](Result result, const discord::Lobby&) { again = result; });
    discord::LobbyTransaction transaction;
    hostNode->lobbies().GetLobbyCreateTransaction(&transaction);
    std::optional<Result> created;
    hostNode->lobbies().CreateLobby(
        transaction, [&](Result result, const discord::Lobby&) { created = result; });
    member.run();
    hostNode->run();
    EXPECT_EQ(again, Result::AlreadyExists);
    EXPECT_EQ(created, Result::AlreadyExists);
}

} // namespace
