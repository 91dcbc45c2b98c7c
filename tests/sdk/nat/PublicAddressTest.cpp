// Which router addresses the port mapper offers to peers: the edges of the
// ranges nobody on the internet can reach.

#include "sdk/nat/Gateway.h"
#include "sdk/nat/PortMapper.h"

#include <gtest/gtest.h>

namespace {

constexpr std::uint32_t ip(int a, int b, int c, int d) {
    return std::uint32_t(a) << 24 | std::uint32_t(b) << 16 | std::uint32_t(c) << 8 |
           std::uint32_t(d);
}

TEST(PublicAddress, OnlyAddressesTheInternetReaches) {
    struct Case {
        std::uint32_t address;
        bool expected;
    };
    const Case cases[] = {
        {ip(0, 0, 0, 0), false},         {ip(9, 255, 255, 255), true},
        {ip(10, 0, 0, 1), false},        {ip(11, 2, 0, 1), true},
        {ip(100, 63, 255, 255), true},   {ip(100, 64, 0, 1), false},
        {ip(100, 127, 255, 255), false}, {ip(100, 128, 0, 0), true},
        {ip(127, 0, 0, 1), false},       {ip(169, 254, 1, 1), false},
        {ip(172, 15, 255, 255), true},   {ip(172, 16, 0, 1), false},
        {ip(172, 31, 255, 255), false},  {ip(172, 32, 0, 0), true},
        {ip(192, 167, 255, 255), true},  {ip(192, 168, 1, 1), false},
        {ip(192, 169, 0, 0), true},      {ip(223, 255, 255, 255), true},
        {ip(224, 0, 0, 1), false},       {ip(255, 255, 255, 255), false},
    };
    for (const auto& [address, expected] : cases)
        EXPECT_EQ(sdk::nat::isPublicAddress(address), expected) << std::hex << address;
}

// A UPnP description or control URL is believed only at the gateway itself.
TEST(GatewayUrl, OnlyTheGatewaysOwnAddressIsTaken) {
    const std::uint32_t gateway = ip(192, 168, 1, 1);
    const std::pair<const char*, bool> cases[] = {
        {"http://192.168.1.1:5000/rootDesc.xml", true},
        {"http://192.168.1.1/ctl/IPConn", true},
        {"http://192.168.1.1", true},
        {"http://192.168.1.10:5000/rootDesc.xml", false},
        {"http://192.168.1.1.example:80/", false},
        {"http://192.168.1.1@10.0.0.5/", false},
        {"http://10.0.0.5/?at=192.168.1.1", false},
        {"https://192.168.1.1/", false},
        {"http://[::ffff:192.168.1.1]/", false},
        {"http://0300.0250.1.1/", false},
        {"192.168.1.1:5000/", false},
        {"", false},
    };
    for (const auto& [url, expected] : cases)
        EXPECT_EQ(sdk::nat::urlIsAt(url, gateway), expected) << url;
}

} // namespace
