// The activity and the invitation as the client window and the command line
// see them through a core's control socket.

#include "tests/support/LobbyNodes.h"

#include "sdk/control/ControlClient.h"
#include "sdk/lobby/JoinSecret.h"

#include <unistd.h>

using namespace lobbytest;
using namespace std::chrono_literals;

namespace {

class ActivityTest : public ::testing::Test {
protected:
    std::unique_ptr<LobbyNode> nodeWithSocket(const std::string& name) {
        const std::string path = "/tmp/vaskor-lobby-test-" + std::to_string(getpid()) + "-" + name;
        paths.push_back(path);
        return LobbyNode::create({{"VASKOR_SDK_CONTROL_SOCKET", path}});
    }

    // Pumps the core and the client until done() holds.
    static bool pumpWith(LobbyNode& node, ControlClient& client,
                         const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + 3s;
        while (std::chrono::steady_clock::now() < end) {
            node.run();
            client.poll();
            if (done())
                return true;
            std::this_thread::sleep_for(200us);
        }
        return false;
    }

    static void publish(LobbyNode& host, std::int32_t partySize) {
        discord::Activity activity;
        activity.SetState("Hosting a VPN");
        activity.GetParty().SetId(std::to_string(host.lobbyId()).c_str());
        activity.GetParty().GetSize().SetCurrentSize(partySize);
        activity.GetParty().GetSize().SetMaxSize(8);
        activity.GetSecrets().SetJoin(host.secret().c_str());
        std::optional<Result> answer;
        host.core().ActivityManager().UpdateActivity(activity,
                                                     [&](Result result) { answer = result; });
        host.run();
        EXPECT_EQ(answer, Result::Ok);
    }

    std::vector<std::string> paths;
};

TEST_F(ActivityTest, ClientSeesUserActivityAndInvitationOnceOpened) {
    auto host = nodeWithSocket("host");
    ASSERT_TRUE(host);
    host->createLobby();
    host->run();
    ControlClient client(paths.back());
    publish(*host, 1);
    ASSERT_TRUE(pumpWith(*host, client, [&] {
        return client.hasState() && client.state().activityState == "Hosting a VPN";
    }));
    discord::User user;
    host->core().UserManager().GetCurrentUser(&user);
    EXPECT_EQ(client.state().userName, user.GetUsername());
    EXPECT_EQ(client.state().partySize, 1);
    EXPECT_EQ(client.state().partyCapacity, 8);
    EXPECT_EQ(client.state().invitation, "") << "no invitation before the program asks";

    std::optional<Result> opened;
    host->core().OverlayManager().OpenActivityInvite(discord::ActivityActionType::Join,
                                                     [&](Result result) { opened = result; });
    ASSERT_TRUE(pumpWith(*host, client, [&] { return !client.state().invitation.empty(); }));
    EXPECT_EQ(opened, Result::Ok);
    EXPECT_EQ(client.state().invitation, host->secret());
    EXPECT_TRUE(client.takeInvitationOpened());

    publish(*host, 2);
    ASSERT_TRUE(pumpWith(*host, client, [&] { return client.state().partySize == 2; }));
    EXPECT_EQ(client.state().invitation, host->secret()) << "the invitation stays";
}

TEST_F(ActivityTest, InvitationGivenToTheClientBecomesOneJoinEventAndConnects) {
    auto host = nodeWithSocket("host");
    auto member = nodeWithSocket("member");
    ASSERT_TRUE(host && member);
    host->createLobby();
    host->run();
    pumpFor({host.get(), member.get()}, 100ms);
    EXPECT_TRUE(member->joins.empty()) << "no join without an invitation";

    ControlClient client(paths.back());
    const std::string secret = host->secret();
    client.sendJoin(secret);
    std::optional<ControlAnswer> answer;
    ASSERT_TRUE(pumpWith(*member, client, [&] {
        if (!answer)
            answer = client.takeAnswer();
        return answer.has_value();
    }));
    EXPECT_TRUE(answer->accepted) << answer->error;
    member->run();
    ASSERT_EQ(member->joins, std::vector<std::string>{secret});
    pumpFor({host.get(), member.get()}, 100ms);
    EXPECT_EQ(member->joins.size(), 1u) << "each invitation once";

    member->connect(member->joins.front());
    ASSERT_TRUE(
        pumpUntil({host.get(), member.get()}, [&] { return member->completion.has_value(); }));
    EXPECT_TRUE(member->connected());
}

TEST_F(ActivityTest, TheClientHearsHowTheJoinEndedAndWhy) {
    auto host = nodeWithSocket("host");
    ASSERT_TRUE(host);
    host->createLobby(2);
    host->run();
    const std::string secret = host->secret();
    // A host that is gone: the same lobby at a port nobody answers.
    auto parsed = sdk::lobby::parseJoinSecret(secret);
    ASSERT_TRUE(parsed);
    parsed->endpoints = {sdk::transport::Endpoint{0x7f000001, 9}};
    const std::string unreachable = sdk::lobby::formatJoinSecret(*parsed);

    struct Case {
        std::string invitation;
        std::string expected; // empty: joined
    };
    const std::vector<Case> cases = {
        {secret, ""},
        {secret, "the lobby is full"},
        {unreachable, "the host cannot be reached: its router needs UPnP or NAT-PMP turned on, "
                      "or UDP port 9 forwarded to the host's computer; and its program must run "
                      "(no answer from 127.0.0.1:9 in "},
    };
    std::vector<std::unique_ptr<LobbyNode>> members;
    for (const auto& [invitation, expected] : cases) {
        members.push_back(nodeWithSocket("member" + std::to_string(members.size())));
        LobbyNode& member = *members.back();
        member.core().ActivityManager().OnActivityJoin.Connect(
            [&member](const char* given) { member.connect(given); });
        ControlClient client(paths.back());
        client.sendJoin(invitation);
        std::optional<JoinResultMessage> result;
        const auto end = std::chrono::steady_clock::now() + 20s;
        while (!result && std::chrono::steady_clock::now() < end) {
            host->run();
            for (auto& node : members)
                node->run();
            client.poll();
            result = client.takeJoinResult();
            std::this_thread::sleep_for(200us);
        }
        ASSERT_TRUE(result) << "no join result for " << invitation;
        EXPECT_EQ(result->joined, expected.empty()) << result->text;
        EXPECT_NE(result->text.find(expected), std::string::npos) << result->text;
    }
}

TEST_F(ActivityTest, InviteWithoutAJoinSecretOrForSpectatingFails) {
    auto node = nodeWithSocket("alone");
    ASSERT_TRUE(node);
    std::vector<Result> results;
    node->core().OverlayManager().OpenActivityInvite(
        discord::ActivityActionType::Join, [&](Result result) { results.push_back(result); });
    node->core().OverlayManager().OpenActivityInvite(
        discord::ActivityActionType::Spectate, [&](Result result) { results.push_back(result); });
    node->run();
    EXPECT_EQ(results, (std::vector<Result>{Result::NotFound, Result::NotSupported}));
}

} // namespace
