// What a peer's route can make a core send: the address ranges that never
// become candidates, a silent candidate asked less and less often and then
// given up, and a member that keeps publishing fresh endpoints held to the
// unproven budget.

#include "tests/sdk/transport/TransportTestSupport.h"

#include "sdk/transport/CandidateFilter.h"

#include <algorithm>

using namespace transporttest;
using namespace std::chrono_literals;

namespace {

Endpoint endpointFrom(const std::string& text) {
    const auto endpoint = parseEndpoint(text);
    EXPECT_TRUE(endpoint) << text;
    return endpoint.value_or(Endpoint{});
}

struct ScopeCase {
    const char* name;
    const char* endpoint;
    AddressScope scope;
};

class CandidateScope : public ::testing::TestWithParam<ScopeCase> {};

TEST_P(CandidateScope, RangeDecidesWhetherAnAddressMayBeAsked) {
    const auto& param = GetParam();
    const Endpoint endpoint = endpointFrom(param.endpoint);
    EXPECT_EQ(scopeOf(endpoint), param.scope);
    EXPECT_EQ(usableCandidate(endpoint, false), param.scope == AddressScope::usable);
    // Loopback only between cores that are on loopback themselves.
    EXPECT_EQ(usableCandidate(endpoint, true),
              param.scope == AddressScope::usable || param.scope == AddressScope::loopback);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, CandidateScope,
    ::testing::Values(
        // The test networks' own ranges, private, shared and public ones.
        ScopeCase{"TestSwitch", "10.231.0.5:4000", AddressScope::usable},
        ScopeCase{"HomeLan", "192.168.3.12:4000", AddressScope::usable},
        ScopeCase{"TestInternet", "11.2.0.1:4000", AddressScope::usable},
        ScopeCase{"SharedAddressSpace", "100.64.0.1:4000", AddressScope::usable},
        ScopeCase{"Documentation", "192.0.2.1:4000", AddressScope::usable},
        ScopeCase{"LastUnicast", "223.255.255.254:4000", AddressScope::usable},
        ScopeCase{"Ipv6Documentation", "[2001:db8:3::11]:4000", AddressScope::usable},
        ScopeCase{"Ipv6UniqueLocal", "[fd00::5]:4000", AddressScope::usable},
        ScopeCase{"Ipv6Global", "[2a00:1450::1]:4000", AddressScope::usable},
        // Never a machine's core.
        ScopeCase{"Unspecified", "0.0.0.0:4000", AddressScope::unspecified},
        ScopeCase{"ThisNetwork", "0.1.2.3:4000", AddressScope::unspecified},
        ScopeCase{"Loopback", "127.0.0.1:4000", AddressScope::loopback},
        ScopeCase{"LoopbackElsewhere", "127.200.0.9:4000", AddressScope::loopback},
        ScopeCase{"LinkLocal", "169.254.10.1:4000", AddressScope::linkLocal},
        ScopeCase{"Multicast", "224.0.0.251:5353", AddressScope::multicast},
        ScopeCase{"MulticastTop", "239.255.255.250:1900", AddressScope::multicast},
        ScopeCase{"Reserved", "240.0.0.1:4000", AddressScope::reserved},
        ScopeCase{"Broadcast", "255.255.255.255:4000", AddressScope::broadcast},
        ScopeCase{"Ipv6Unspecified", "[::]:4000", AddressScope::unspecified},
        ScopeCase{"Ipv6Loopback", "[::1]:4000", AddressScope::loopback},
        ScopeCase{"Ipv6LinkLocal", "[fe80::1]:4000", AddressScope::linkLocal},
        ScopeCase{"Ipv6LinkLocalTop", "[febf::1]:4000", AddressScope::linkLocal},
        ScopeCase{"Ipv6SiteLocal", "[fec0::1]:4000", AddressScope::reserved},
        ScopeCase{"Ipv6Multicast", "[ff02::1]:4000", AddressScope::multicast},
        ScopeCase{"Ipv4Compatible", "[::10.1.2.3]:4000", AddressScope::reserved}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CandidateScope, PortZeroIsNeverAsked) {
    EXPECT_FALSE(usableCandidate(Endpoint{0x0a000001u, 0}, false));
}

// Datagrams that reached a set of silent sockets, with when each came.
struct Silent {
    std::vector<std::unique_ptr<RawSocket>> sockets;
    std::vector<TimePoint> arrivals;

    explicit Silent(std::size_t count) {
        for (std::size_t i = 0; i < count; ++i)
            sockets.push_back(std::make_unique<RawSocket>());
    }
    std::vector<Endpoint> endpoints(std::size_t from, std::size_t count) const {
        std::vector<Endpoint> out;
        for (std::size_t i = from; i < from + count; ++i)
            out.push_back(sockets[i]->endpoint());
        return out;
    }
    void drain() {
        for (auto& socket : sockets)
            while (socket->receive())
                arrivals.push_back(Clock::now());
    }
};

TEST(CandidateBackOff, ASilentCandidateIsAskedLessOftenAndThenGivenUp) {
    auto settings = loopbackSettings();
    settings.handshakeRetry = 20ms;
    settings.candidateRetryLimit = 160ms;
    settings.candidateLifetime = 1000ms;
    auto node = makeNode(settings);
    Silent silent(1);
    const auto peer = KeyPair::generate().publicKey;
    ASSERT_EQ(
        node->transport->openPeer(peerIdOf(peer), formatRoute(Route{peer, silent.endpoints(0, 1)})),
        TransportStatus::ok);
    // Asked at 0, 20, 60, 140, 300, 460, 620, 780 and 940 ms; at 1100 ms it
    // is past its lifetime.
    constexpr std::size_t asked = 9;
    ASSERT_TRUE(pumpUntil(
        {node.get()},
        [&] {
            silent.drain();
            return silent.arrivals.size() >= asked;
        },
        3000ms));
    Milliseconds interval = settings.handshakeRetry;
    for (std::size_t i = 1; i < silent.arrivals.size(); ++i) {
        // A turn never comes early; a poll or two late at most.
        EXPECT_GE(silent.arrivals[i] - silent.arrivals[i - 1], interval - 2ms) << "turn " << i;
        interval = std::min(interval * 2, settings.candidateRetryLimit);
    }
    testsupport::pumpFor({node.get()}, 3 * settings.candidateRetryLimit);
    silent.drain();
    EXPECT_EQ(silent.arrivals.size(), asked) << "a candidate past its lifetime was still asked";
}

// A member that publishes fresh endpoints again and again (its own key, an
// outsider's addresses) gets no more datagrams sent to them than the budget.
TEST(UnprovenBudget, FreshRoutesOneAfterAnotherCostNoMoreThanTheBudget) {
    auto node = makeNode(loopbackSettings());
    constexpr std::size_t routes = 6;
    Silent silent(routes * maxRouteEndpoints);
    const auto peer = KeyPair::generate().publicKey;
    const auto started = Clock::now();
    ASSERT_EQ(node->transport->openPeer(
                  peerIdOf(peer), formatRoute(Route{peer, silent.endpoints(0, maxRouteEndpoints)})),
              TransportStatus::ok);
    for (std::size_t i = 1; i < routes; ++i) {
        testsupport::pumpFor({node.get()}, 30ms);
        silent.drain();
        ASSERT_EQ(node->transport->updatePeer(
                      peerIdOf(peer),
                      formatRoute(
                          Route{peer, silent.endpoints(i * maxRouteEndpoints, maxRouteEndpoints)})),
                  TransportStatus::ok);
    }
    testsupport::pumpFor({node.get()}, 500ms);
    silent.drain();
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    const double bound = UnprovenBudget::burst + UnprovenBudget::perSecond * seconds;
    EXPECT_LE(static_cast<double>(silent.arrivals.size()), bound);
    // The routes asked for far more: the budget, not the schedule, held it.
    EXPECT_GE(silent.arrivals.size(), static_cast<std::size_t>(UnprovenBudget::burst));
}

} // namespace
