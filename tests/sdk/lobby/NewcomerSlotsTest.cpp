// A member joins while strangers who read the host's key in an invitation
// hold every newcomer slot of the host and keep renewing their handshakes
// from many sources: the member gets in at its first try. Prints the time
// the join took.

#include "tests/sdk/transport/RawPeer.h"
#include "tests/support/LobbyNodes.h"

#include "sdk/lobby/JoinSecret.h"
#include "sdk/lobby/LobbyMessages.h"

#include <chrono>
#include <cstdio>
#include <deque>

using namespace lobbytest;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;
using sdk::transport::NewcomerBudget;

// Strangers with handshakes the host finishes, each from the next of many
// loopback sources (127.0.0.10 and on), one more every interval; each asks
// to join the lobby, so the host challenges it, and never proves the key.
class Strangers {
public:
    Strangers(const sdk::lobby::JoinSecret& secret)
        : lobbyId(secret.lobbyId), hostKey(secret.hostKey), host(secret.endpoints.at(0)) {}

    void add() {
        const auto source = INADDR_LOOPBACK + 9 + static_cast<std::uint32_t>(started % sources);
        peers.push_back({std::make_unique<transporttest::RawPeer>(hostKey, host, source), false});
        peers.back().peer->initiate();
        ++started;
        if (peers.size() > 4 * NewcomerBudget::maxNewcomers)
            peers.pop_front();
    }
    // Finishes the handshakes the host answered and asks to join; true when
    // all have asked.
    bool finish() {
        bool all = true;
        for (auto& [peer, asked] : peers) {
            if (!asked && peer->finish()) {
                const auto request = sdk::lobby::encodeLobbyMessage(sdk::lobby::JoinRequest{
                    lobbyId, {}, 1000 + static_cast<std::int64_t>(started), "stranger"});
                peer->send(sdk::transport::Frame{sdk::transport::FrameKind::reliableEnd,
                                                 sdk::transport::Channel::control(),
                                                 0,
                                                 0,
                                                 request,
                                                 0,
                                                 {}});
                asked = true;
            }
            all &= asked;
        }
        return all;
    }
    // One more stranger whenever the interval has passed.
    void renew(std::chrono::milliseconds interval) {
        if (Clock::now() - lastAdded >= interval) {
            lastAdded = Clock::now();
            add();
        }
        finish();
    }

    std::size_t started = 0;

private:
    struct Stranger {
        std::unique_ptr<transporttest::RawPeer> peer;
        bool asked = false;
    };
    static constexpr std::size_t sources = 40;
    std::int64_t lobbyId;
    sdk::transport::PublicKey hostKey;
    sdk::transport::Endpoint host;
    std::deque<Stranger> peers;
    Clock::time_point lastAdded{};
};

class NewcomerSlots : public LobbyFixture {};

TEST_F(NewcomerSlots, AMemberGetsInAtItsFirstTryWhileStrangersHoldEverySlot) {
    host();
    const auto secret = sdk::lobby::parseJoinSecret(hostNode->secret());
    ASSERT_TRUE(secret);
    // For comparison: a member that joins with no stranger about.
    const auto quietStart = Clock::now();
    ASSERT_TRUE(join().connected());
    const auto quiet = std::chrono::duration<double, std::milli>(Clock::now() - quietStart).count();

    Strangers strangers(*secret);
    for (std::size_t i = 0; i < NewcomerBudget::maxNewcomers; ++i)
        strangers.add();
    ASSERT_TRUE(pumpUntil(all(), [&] { return strangers.finish(); }))
        << "the host let the strangers in: every slot is held";

    // Renewed at a rate below the host's load mark, where cookies would be
    // asked for: each new stranger takes a slot.
    members.push_back(LobbyNode::create());
    LobbyNode& member = *members.back();
    const auto start = Clock::now();
    member.connect(hostNode->secret());
    ASSERT_TRUE(pumpUntil(
        all(),
        [&] {
            strangers.renew(25ms);
            return member.completion.has_value();
        },
        30s));
    const auto took = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    EXPECT_TRUE(member.connected()) << "refused at its first try";
    std::printf("member's join %s in %.1f ms while strangers held every newcomer slot "
                "(%zu strangers in all); %.1f ms with none about\n",
                member.connected() ? "succeeded" : "failed", took, strangers.started, quiet);
}

} // namespace
