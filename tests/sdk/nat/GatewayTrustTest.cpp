// A device on the host's LAN that answers SSDP as a gateway of its own (a
// real miniupnpd on another machine of the LAN, claiming a public address of
// its own) is not believed: the host's route never names what it grants, and
// the host never asks it for a mapping. With a mapping router beside it, the
// host maps at its router as before.

#include "sdk/transport/Route.h"
#include "tests/support/LobbyNodes.h"
#include "tests/support/TestMachines.h"

#include <fstream>
#include <sstream>

using namespace lobbytest;
using namespace std::chrono_literals;
using testsupport::Mapping;
using testsupport::TestMachines;
using testsupport::Translation;

namespace {

std::string fileText(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

struct TrustCase {
    const char* name;
    Mapping router; // what the real gateway offers
};

void PrintTo(const TrustCase& trust, std::ostream* out) {
    *out << trust.name;
}

class GatewayTrustTest : public ::testing::TestWithParam<TrustCase> {
protected:
    void TearDown() override {
        host.reset();
        machines.reset();
    }
    std::unique_ptr<TestMachines> machines;
    std::unique_ptr<LobbyNode> host;
};

TEST_P(GatewayTrustTest, AnSsdpAnswerFromAnotherLanDeviceIsIgnored) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to create network namespaces";
    // Machines 1 (the host) and 2 (the rogue) behind router 1.
    machines = std::make_unique<TestMachines>(
        std::vector<testsupport::Router>{{Translation::keep, GetParam().router}},
        std::vector<int>{1, 1});
    ASSERT_TRUE(machines->ready);
    ASSERT_TRUE(machines->rogueGateway(2));
    const std::string rogueLog = "/tmp/" +
                                 machines->name(2).substr(0, machines->name(2).rfind('-')) +
                                 "-rogue2/miniupnpd.log";
    host = machines->inside(1, [&] {
        return LobbyNode::create(
            {{"VASKOR_SDK_ADDRESSES", machines->addressOf(1)}, {"VASKOR_SDK_PORT_MAPPING", "on"}});
    });
    ASSERT_TRUE(host);
    const auto names = [&](const std::string& prefix) {
        const auto route = sdk::transport::parseRoute(host->node().route);
        if (!route)
            return false;
        for (const auto& endpoint : route->endpoints)
            if (endpoint.toString().starts_with(prefix))
                return true;
        return false;
    };
    const Nodes nodes{host.get()};
    if (GetParam().router == Mapping::upnp) {
        // The real gateway's mapping leads the route.
        ASSERT_TRUE(pumpUntil(
            nodes,
            [&] {
                const auto route = sdk::transport::parseRoute(host->node().route);
                return route && route->endpoints.front().toString().starts_with(
                                    TestMachines::routerAddress(1) + ":");
            },
            10s))
            << host->node().route;
    } else {
        // Past the search, the description and the mapping a rogue would
        // grant (about a second), and the NAT-PMP attempt after them.
        pumpFor(nodes, 3500ms);
    }
    EXPECT_FALSE(names("11.9.9.")) << "the rogue's address is in the route: " << host->node().route;
    const std::string log = fileText(rogueLog);
    EXPECT_EQ(log.find("AddPortMapping"), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(Lans, GatewayTrustTest,
                         ::testing::Values(TrustCase{"no mapping at the gateway", Mapping::none},
                                           TrustCase{"UPnP at the gateway", Mapping::upnp}),
                         [](const auto& info) {
                             return std::string(info.index == 0 ? "GatewayMapsNothing"
                                                                : "GatewayMaps");
                         });

} // namespace
