// The per-source rate under load: which sources share a bucket, and what a
// sender of many sources can and cannot make the limiter forget.

#include "sdk/transport/InitiationLimiter.h"

#include <gtest/gtest.h>

#include <string>

using namespace sdk::transport;

namespace {

Endpoint ipv6(std::uint16_t a, std::uint16_t b, std::uint16_t c, std::uint16_t d,
              std::uint16_t interfaceLow, std::uint16_t port = 4000) {
    Endpoint::Bytes bytes{};
    const std::uint16_t groups[] = {a, b, c, d, 0, 0, 0, interfaceLow};
    for (std::size_t i = 0; i < 8; ++i) {
        bytes[2 * i] = static_cast<std::uint8_t>(groups[i] >> 8);
        bytes[2 * i + 1] = static_cast<std::uint8_t>(groups[i]);
    }
    return Endpoint::fromBytes(bytes, port);
}

// Spends a source's whole burst; true when it was then refused.
bool drain(InitiationLimiter& limiter, const Endpoint& from, TimePoint now) {
    for (int i = 0; i < 100; ++i)
        if (!limiter.allowSource(from, now))
            return true;
    return false;
}

struct SharingCase {
    const char* what;
    Endpoint drained;
    Endpoint other;
    bool shared; // the other is refused once the first has spent the burst
};

TEST(InitiationLimiter, WhichSourcesShareABucket) {
    const SharingCase cases[] = {
        {"one IPv4 address, another port", Endpoint{0x0a000001, 1000}, Endpoint{0x0a000001, 2000},
         true},
        {"two IPv4 addresses", Endpoint{0x0a000001, 1000}, Endpoint{0x0a000002, 1000}, false},
        {"one /64, another interface", ipv6(0x2001, 0xdb8, 1, 2, 1), ipv6(0x2001, 0xdb8, 1, 2, 99),
         true},
        {"neighbouring /64s", ipv6(0x2001, 0xdb8, 1, 2, 1), ipv6(0x2001, 0xdb8, 1, 3, 1), false},
        // These two /64s once fell on the same 32-bit key.
        {"/64s of one 32-bit hash", ipv6(0x2001, 0xdb8, 0x01f8, 0xdbff, 1),
         ipv6(0x2001, 0xdb8, 0x0352, 0x3e00, 1), false},
        {"IPv4 and the /64 of zeros", Endpoint{0x0a000001, 1000}, ipv6(0, 0, 0, 0, 1), false},
    };
    const TimePoint now{std::chrono::seconds(100)};
    for (const auto& c : cases) {
        InitiationLimiter limiter;
        ASSERT_TRUE(drain(limiter, c.drained, now)) << c.what;
        EXPECT_EQ(!limiter.allowSource(c.other, now), c.shared) << c.what;
    }
}

// A flooder spends its burst, then a sender of spoofed sources sends from
// far more sources than the limiter tracks, while the flooder keeps on.
TEST(InitiationLimiter, SpoofedSourcesDoNotResetTheFloodersBucket) {
    InitiationLimits limits;
    limits.maxSources = 64;
    InitiationLimiter limiter(limits);
    const TimePoint now{std::chrono::seconds(100)};
    const Endpoint flooder{0x0a000001, 1000};
    ASSERT_TRUE(drain(limiter, flooder, now));
    for (std::uint32_t i = 0; i < 20 * limits.maxSources; ++i) {
        EXPECT_TRUE(limiter.allowSource(Endpoint{0x0b000000 + i, 1000}, now)) << "spoofed " << i;
        if (i % 8 == 0) {
            ASSERT_FALSE(limiter.allowSource(flooder, now)) << "after " << i << " spoofed sources";
        }
    }
}

// The one forgotten is the one seen least recently: with room for three,
// a fourth source costs the first its bucket, not the second or third.
TEST(InitiationLimiter, ForgetsTheLeastRecentlySeenSource) {
    InitiationLimits limits;
    limits.maxSources = 3;
    InitiationLimiter limiter(limits);
    const TimePoint now{std::chrono::seconds(100)};
    const Endpoint first{0x0a000001, 1}, second{0x0a000002, 1}, third{0x0a000003, 1};
    for (const auto& source : {first, second, third})
        ASSERT_TRUE(drain(limiter, source, now));
    EXPECT_FALSE(limiter.allowSource(first, now)) << "first seen again: now the most recent";
    EXPECT_TRUE(limiter.allowSource(Endpoint{0x0a000004, 1}, now));
    EXPECT_FALSE(limiter.allowSource(first, now)) << "still tracked: still refused";
    EXPECT_FALSE(limiter.allowSource(third, now)) << "still tracked: still refused";
    EXPECT_TRUE(limiter.allowSource(second, now)) << "least recently seen: forgotten";
}

} // namespace
