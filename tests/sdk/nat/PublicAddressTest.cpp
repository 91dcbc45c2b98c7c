// Which router addresses the port mapper offers to peers: the edges of the
// ranges nobody on the internet can reach.

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

} // namespace
