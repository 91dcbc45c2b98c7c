#include "adapter/Ipv4Cidr.h"

#include "tests/support/SystemIpv4.h"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

Ipv4Cidr cidr(const char* address, unsigned prefix) {
    const std::optional<std::uint32_t> parsed = testsupport::systemIpv4(address);
    EXPECT_TRUE(parsed) << address;
    return {parsed.value_or(0), static_cast<std::uint8_t>(prefix)};
}

std::string rangeErrorOf(auto&& action) {
    try {
        action();
    } catch (const std::range_error& error) {
        return error.what();
    }
    return "no error";
}

struct ParseCase {
    const char* text;
    std::optional<std::string> expected; // text form, or nullopt for "Invalid IP Address"
};

class Ipv4CidrParse : public testing::TestWithParam<ParseCase> {};

TEST_P(Ipv4CidrParse, ScansLikeTheUnsignedPattern) {
    const ParseCase& c = GetParam();
    if (c.expected) {
        EXPECT_EQ(Ipv4Cidr::parse(c.text).toString(), *c.expected) << '"' << c.text << '"';
    } else {
        EXPECT_EQ(rangeErrorOf([&] { Ipv4Cidr::parse(c.text); }), "Invalid IP Address")
            << '"' << c.text << '"';
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Ipv4CidrParse,
    testing::Values(
        ParseCase{"192.168.42.1/24", "192.168.42.1/24"},
        // fewer than five numbers: the all-zero value, no error
        ParseCase{"192.168.42.1", "0.0.0.0/0"}, ParseCase{"", "0.0.0.0/0"},
        ParseCase{"10.0.0 .1/8", "0.0.0.0/0"}, ParseCase{"10.0.0.1 /8", "0.0.0.0/0"},
        ParseCase{"10.0.0.1/", "0.0.0.0/0"}, ParseCase{"a.b.c.d/e", "0.0.0.0/0"},
        // white space before a number, signs, trailing text
        ParseCase{" 10.0.0.1/8", "10.0.0.1/8"}, ParseCase{"10. 0.0.1/8", "10.0.0.1/8"},
        ParseCase{"10.0.0.1/ 8", "10.0.0.1/8"}, ParseCase{"10.0.0.1/8xyz", "10.0.0.1/8"},
        ParseCase{"192.168.42.1/24 and more words", "192.168.42.1/24"},
        ParseCase{"+10.0.0.1/8", "10.0.0.1/8"}, ParseCase{"-0.0.0.0/0", "0.0.0.0/0"},
        ParseCase{"010.001.000.001/8", "10.1.0.1/8"},
        ParseCase{"255.255.255.255/32", "255.255.255.255/32"}, ParseCase{"0.0.0.0/0", "0.0.0.0/0"},
        // out of range
        ParseCase{"256.0.0.1/24", std::nullopt}, ParseCase{"1.256.0.1/24", std::nullopt},
        ParseCase{"1.0.256.1/24", std::nullopt}, ParseCase{"1.0.0.256/24", std::nullopt},
        ParseCase{"1.0.0.1/33", std::nullopt}, ParseCase{"-1.0.0.1/24", std::nullopt},
        ParseCase{"1.-1.0.1/24", std::nullopt}, ParseCase{"1.0.-1.1/24", std::nullopt},
        ParseCase{"1.0.0.-1/24", std::nullopt}, ParseCase{"1.0.0.1/-1", std::nullopt}));

TEST(Ipv4Cidr, AddressIsInNetworkByteOrder) {
    const Ipv4Cidr value = Ipv4Cidr::parse("192.168.42.7/24");
    const auto* bytes = reinterpret_cast<const unsigned char*>(&value.address);
    EXPECT_EQ(bytes[0], 192);
    EXPECT_EQ(bytes[1], 168);
    EXPECT_EQ(bytes[2], 42);
    EXPECT_EQ(bytes[3], 7);
    EXPECT_EQ(value.prefix, 24);
    EXPECT_EQ(value, cidr("192.168.42.7", 24));
}

TEST(Ipv4Cidr, Netmask) {
    struct Case {
        unsigned prefix;
        const char* mask;
    } cases[] = {{0, "0.0.0.0"},        {1, "128.0.0.0"},        {8, "255.0.0.0"},
                 {24, "255.255.255.0"}, {31, "255.255.255.254"}, {32, "255.255.255.255"}};
    for (const Case& c : cases)
        EXPECT_EQ(Ipv4Cidr({0, static_cast<std::uint8_t>(c.prefix)}).netmask(),
                  cidr(c.mask, 0).address)
            << "/" << c.prefix;
}

TEST(Ipv4Cidr, OffsetStaysInsideTheNetwork) {
    struct Case {
        Ipv4Cidr from;
        std::uint32_t n;
        std::optional<std::string> expected; // nullopt: out of range
    } cases[] = {
        {cidr("192.168.42.1", 24), 1, "192.168.42.2/24"},
        {cidr("192.168.42.254", 24), 1, "192.168.42.255/24"}, // broadcast is a valid result
        {cidr("192.168.42.255", 24), 1, std::nullopt},
        {cidr("192.168.42.1", 24), 255, std::nullopt},
        {cidr("192.168.42.1", 24), 0xffffffffu, "192.168.42.0/24"}, // wraps back to the network
        {cidr("10.0.0.1", 32), 1, std::nullopt},
        {cidr("10.0.0.1", 32), 0, "10.0.0.1/32"},
        {cidr("255.255.255.255", 0), 1, "0.0.0.0/0"},
        {cidr("10.0.255.255", 16), 1, std::nullopt},
        {cidr("10.0.0.255", 16), 1, "10.0.1.0/16"},
    };
    for (const Case& c : cases) {
        if (c.expected) {
            EXPECT_EQ(c.from.offset(c.n).toString(), *c.expected)
                << c.from.toString() << " + " << c.n;
        } else {
            EXPECT_EQ(rangeErrorOf([&] { c.from.offset(c.n); }), "resultant CIDR out of range")
                << c.from.toString() << " + " << c.n;
        }
    }
}

TEST(Ipv4Cidr, OffsetLeavesTheOriginalUnchanged) {
    const Ipv4Cidr start = Ipv4Cidr::parse("192.168.42.1/24");
    const Ipv4Cidr next = start.offset(1);
    EXPECT_EQ(start.toString(), "192.168.42.1/24");
    EXPECT_EQ(next.toString(), "192.168.42.2/24");
}

TEST(Ipv4Cidr, EqualityComparesAddressAndPrefix) {
    EXPECT_NE(Ipv4Cidr::parse("10.0.0.1/8"), Ipv4Cidr::parse("10.0.0.1/16"));
    EXPECT_NE(Ipv4Cidr::parse("10.0.0.1/8"), Ipv4Cidr::parse("10.0.0.2/8"));
    EXPECT_EQ(Ipv4Cidr::parse("10.0.0.1/8"), Ipv4Cidr::parse(" 010.0.0.1/8 "));
    EXPECT_EQ(Ipv4Cidr::parse("no address"), Ipv4Cidr{});
}

// The address alone is read as the system's inet_pton reads it (the owner
// messages relied on it), on every system the program builds for.
TEST(Ipv4Address, ReadsAsTheSystemDoes) {
    const char* texts[] = {
        "1.2.3.4",    "0.0.0.0",    "255.255.255.255", "10.0.0.10", "192.168.42.3",
        "256.1.1.1",  "1.2.3.256",  "01.2.3.4",        "1.2.3.00",  "1.2.3",
        "1.2.3.4.5",  "1..2.3",     ".1.2.3",          "1.2.3.4.",  "",
        " 1.2.3.4",   "1.2.3.4 ",   "0x1.2.3.4",       "1.2.3.-4",  "1.2.3.4/24",
        "4294967295", "1.2.3.1000",
    };
    for (const char* text : texts)
        EXPECT_EQ(parseIpv4Address(text), testsupport::systemIpv4(text)) << '"' << text << '"';
}

TEST(Ipv4Address, ReadsTheWholeViewOnly) {
    using namespace std::string_view_literals;
    EXPECT_EQ(parseIpv4Address("1.2.3.4\0"sv), std::nullopt);
    EXPECT_EQ(parseIpv4Address("1.2.3.45"sv.substr(0, 7)), testsupport::systemIpv4("1.2.3.4"));
}

TEST(Ipv4Address, TextIsDottedDecimal) {
    for (const char* text : {"0.0.0.0", "1.2.3.4", "10.0.0.255", "255.255.255.255"})
        EXPECT_EQ(ipv4AddressText(testsupport::systemIpv4(text).value()), text);
}

} // namespace
