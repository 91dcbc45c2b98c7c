// Dotted addresses read and written alike on every system (Windows has its
// own reader): what one core writes in a route, every other core reads.

#include "sdk/os/Endpoint.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

using sdk::os::Endpoint;
using sdk::os::parseIpv4Address;

TEST(Endpoint, DottedAddressesAreReadAsInetPtonReadsThem) {
    const struct {
        const char* text;
        std::optional<std::uint32_t> address;
    } cases[] = {
        {"127.0.0.1", 0x7f000001},
        {"0.0.0.0", 0},
        {"255.255.255.255", 0xffffffff},
        {"10.231.0.17", 0x0ae70011},
        {"256.0.0.1", std::nullopt},
        {"1.2.3", std::nullopt},
        {"1.2.3.4.5", std::nullopt},
        {"01.2.3.4", std::nullopt}, // a leading zero (octal elsewhere) is refused
        {"1.2.3.04", std::nullopt},
        {"1.2.3.4 ", std::nullopt},
        {" 1.2.3.4", std::nullopt},
        {"1..3.4", std::nullopt},
        {"1.2.3.1000", std::nullopt},
        {"-1.2.3.4", std::nullopt},
        {"", std::nullopt},
        {"a.b.c.d", std::nullopt},
    };
    for (const auto& each : cases)
        EXPECT_EQ(parseIpv4Address(each.text), each.address) << '"' << each.text << '"';
}

TEST(Endpoint, TextIsDottedAddressAndPort) {
    EXPECT_EQ((Endpoint{0x7f000001, 6000}.toString()), "127.0.0.1:6000");
    EXPECT_EQ((Endpoint{0xffffffff, 65535}.toString()), "255.255.255.255:65535");
    EXPECT_EQ((Endpoint{0, 0}.toString()), "0.0.0.0:0");
    const std::string longest = Endpoint{0xffffffff, 1}.toString();
    EXPECT_EQ(longest.find(':'), sdk::os::maxIpv4TextLength);
}

} // namespace
