#include "platform/linux/IgmpTable.h"
#include "platform/linux/GroupMirror.h"

#include "tests/support/SystemIpv4.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

std::uint32_t ip(const char* text) {
    return testsupport::systemIpv4(text).value_or(0);
}

// As the kernel prints it, tabs and all (a machine with a game listening on
// 224.0.2.60 through eth0, and our adapter holding a group of its own).
const std::string table = "Idx\tDevice    : Count Querier\tGroup    Users Timer\tReporter\n"
                          "1\tlo        :     1      V3\n"
                          "\t\t\t\t010000E0     1 0:00000000\t\t0\n"
                          "4\teth0      :     2      V3\n"
                          "\t\t\t\t3C0200E0     1 0:00000000\t\t0\n"
                          "\t\t\t\t010000E0     1 0:00000000\t\t0\n"
                          "7\tOrvanti-VPN:     2      V3\n"
                          "\t\t\t\tFAFFFFEF     1 0:00000000\t\t0\n"
                          "\t\t\t\t010000E0     1 0:00000000\t\t0\n";

TEST(IgmpTable, ReadsEachGroupWithTheInterfaceItWasJoinedOn) {
    const std::vector<GroupMembership> expected = {
        {1, ip("224.0.0.1")},       {4, ip("224.0.2.60")}, {4, ip("224.0.0.1")},
        {7, ip("239.255.255.250")}, {7, ip("224.0.0.1")},
    };
    EXPECT_EQ(parseIgmpTable(table), expected);
}

TEST(IgmpTable, PassesOverWhatItDoesNotUnderstand) {
    struct Case {
        const char* what;
        std::string text;
        std::vector<GroupMembership> expected;
    } cases[] = {
        {"empty", "", {}},
        {"the header alone",
         "Idx\tDevice    : Count Querier\tGroup    Users Timer\tReporter\n",
         {}},
        {"a group before any interface", "\t\t\t\t3C0200E0     1 0:00000000\t\t0\n", {}},
        {"a group too short", "4\teth0 : 1 V3\n\t\t\t\t3C0200     1 0:0\t\t0\n", {}},
        {"a group of other characters", "4\teth0 : 1 V3\n\t\t\t\t3C02ZZE0     1 0:0\t\t0\n", {}},
        {"an interface without a number",
         "4\teth0 : 1 V3\nx\tbad : 1 V3\n\t\t\t\t3C0200E0     1 0:0\t\t0\n",
         {}},
        {"no line end at the end", "4\teth0 : 1 V3\n\t\t\t\t3C0200E0", {{4, ip("224.0.2.60")}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseIgmpTable(c.text), c.expected) << c.what;
}

TEST(GroupMirror, WantsWhatProgramsHoldElsewhereButTheLinkLocalBlock) {
    EXPECT_EQ(GroupMirror::wanted(parseIgmpTable(table), 7),
              std::set<std::uint32_t>{ip("224.0.2.60")})
        << "the adapter's own groups and 224.0.0.0/24 are left out";
    EXPECT_EQ(GroupMirror::wanted(parseIgmpTable(table), 4),
              std::set<std::uint32_t>{ip("239.255.255.250")});
}

TEST(GroupMirror, HoldsNoMoreThanTheSystemAllowsOneSocket) {
    std::vector<GroupMembership> many;
    for (std::uint32_t i = 0; i < 100; ++i)
        many.push_back({2, htonl(0xe0000200u + i)});
    EXPECT_EQ(GroupMirror::wanted(many, 7).size(), GroupMirror::largest);
}

} // namespace
