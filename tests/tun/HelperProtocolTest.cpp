// The adapter helper's request parser: everything a caller can send, checked
// before the helper acts.

#include "tun/HelperProtocol.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes(std::initializer_list<int> values) {
    Bytes out;
    for (int value : values)
        out.push_back(static_cast<std::uint8_t>(value));
    return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes text(const std::string& value) {
    Bytes out{static_cast<std::uint8_t>(value.size())};
    for (char c : value)
        out.push_back(static_cast<std::uint8_t>(c));
    return out;
}

Bytes word(std::uint32_t value) {
    return bytes(
        {int(value >> 24), int(value >> 16 & 0xFF), int(value >> 8 & 0xFF), int(value & 0xFF)});
}

constexpr int create = 1, up = 2, setMtu = 3, addAddress = 4, removeAddress = 5, markPrivate = 6,
              remove = 7;
const Bytes ours = text("Orvanti-VPN");

Bytes address(int family, std::uint32_t value, int prefix) {
    return bytes({addAddress}) + ours + bytes({family}) + word(value) + bytes({prefix});
}

struct RefusedCase {
    const char* what;
    Bytes message;
    const char* reasonHas;
};

TEST(HelperProtocol, RefusesEveryMalformedRequestWithItsReason) {
    const RefusedCase cases[] = {
        {"empty", {}, "empty"},
        {"kind 0", bytes({0}) + ours, "unknown request"},
        {"kind 8", bytes({8}) + ours, "unknown request"},
        {"kind 255", bytes({255}), "unknown request"},
        {"too long", Bytes(helperMessageLimit + 1, up), "too long"},
        {"create without names", bytes({create}), "cut short"},
        {"create, name cut short", bytes({create}) + text("Pool") + bytes({20, 'a'}), "cut short"},
        {"create, more after", bytes({create}) + text("Pool") + text("Name") + bytes({0}),
         "followed by more"},
        {"create, empty name", bytes({create}) + text("Pool") + text(""), "not a valid name"},
        {"create, tab in name", bytes({create}) + text("Pool") + text("a\tb"), "not a valid name"},
        {"create, bad UTF-8", bytes({create}) + text("Pool") + bytes({2, 0xC3, 0x28}),
         "not a valid name"},
        {"create, names too long for the alias",
         bytes({create}) + text(std::string(127, 'p')) + text(std::string(127, 'n')), "too long"},
        {"no interface name", bytes({up}), "cut short"},
        {"interface name cut short", bytes({up, 11, 'O'}), "cut short"},
        {"empty interface name", bytes({up}) + text(""), "not one an adapter can have"},
        {"16-byte interface name", bytes({up}) + text("abcdefghijklmnop"),
         "not one an adapter can have"},
        {"slash in interface name", bytes({up}) + text("../eth0"), "not one an adapter can have"},
        {"space in interface name", bytes({up}) + text("Orvanti VPN"),
         "not one an adapter can have"},
        {"dot-dot interface name", bytes({markPrivate}) + text(".."),
         "not one an adapter can have"},
        {"up, more after", bytes({up}) + ours + bytes({0}), "followed by more"},
        {"remove, more after", bytes({remove}) + ours + bytes({1}), "followed by more"},
        {"MTU cut short", bytes({setMtu}) + ours + bytes({0, 0, 5}), "cut short"},
        {"MTU below 576", bytes({setMtu}) + ours + word(575), "MTU must be"},
        {"MTU above 9000", bytes({setMtu}) + ours + word(9001), "MTU must be"},
        {"MTU, more after", bytes({setMtu}) + ours + word(1412) + bytes({0}), "followed by more"},
        {"IPv6 family", address(6, 0xC0A82A01, 24), "only an IPv4 address"},
        {"family 0", address(0, 0xC0A82A01, 24), "only an IPv4 address"},
        {"address without family", bytes({addAddress}) + ours, "cut short"},
        {"address cut short", bytes({addAddress}) + ours + bytes({4, 192, 168}), "cut short"},
        {"address, more after", address(4, 0xC0A82A01, 24) + bytes({0}), "followed by more"},
        {"prefix 0", address(4, 0xC0A82A01, 0), "prefix length"},
        {"prefix 7", address(4, 0x0A000001, 7), "prefix length"},
        {"prefix 31", address(4, 0xC0A82A01, 31), "prefix length"},
        {"prefix 32", address(4, 0xC0A82A01, 32), "prefix length"},
        {"loopback", address(4, 0x7F000001, 8), "not a unicast"},
        {"this network", address(4, 0x00000001, 8), "not a unicast"},
        {"multicast", address(4, 0xE0000001, 24), "not a unicast"},
        {"limited broadcast", address(4, 0xFFFFFFFE, 24), "not a unicast"},
        {"link-local", address(4, 0xA9FE0101, 16), "link-local"},
        {"network's own address", address(4, 0xC0A82A00, 24), "own address or broadcast"},
        {"network's broadcast", address(4, 0xC0A82AFF, 24), "own address or broadcast"},
    };
    for (const auto& refused : cases) {
        HelperRequest parsed = parseHelperRequest(refused.message);
        const auto* malformed = std::get_if<HelperMalformed>(&parsed);
        ASSERT_NE(malformed, nullptr) << refused.what << " was taken";
        EXPECT_NE(malformed->reason.find(refused.reasonHas), std::string::npos)
            << refused.what << ": " << malformed->reason;
    }
}

TEST(HelperProtocol, ReadsEveryWellFormedRequest) {
    struct TakenCase {
        const char* what;
        Bytes message;
        HelperInterfaceRequest expected;
    };
    const TakenCase cases[] = {
        {"up", bytes({up}) + ours, {HelperRequestKind::up, "Orvanti-VPN", 0, 0, 0}},
        {"MTU 576",
         bytes({setMtu}) + ours + word(576),
         {HelperRequestKind::setMtu, "Orvanti-VPN", 576, 0, 0}},
        {"MTU 9000",
         bytes({setMtu}) + ours + word(9000),
         {HelperRequestKind::setMtu, "Orvanti-VPN", 9000, 0, 0}},
        {"address /24",
         address(4, 0xC0A82A01, 24),
         {HelperRequestKind::addAddress, "Orvanti-VPN", 0, htonl(0xC0A82A01), 24}},
        {"address /8",
         address(4, 0x0A000001, 8),
         {HelperRequestKind::addAddress, "Orvanti-VPN", 0, htonl(0x0A000001), 8}},
        {"address /30",
         address(4, 0xC0A82A02, 30),
         {HelperRequestKind::addAddress, "Orvanti-VPN", 0, htonl(0xC0A82A02), 30}},
        {"remove address",
         bytes({removeAddress}) + ours,
         {HelperRequestKind::removeAddress, "Orvanti-VPN", 0, 0, 0}},
        {"mark private",
         bytes({markPrivate}) + text("a.b_c-1"),
         {HelperRequestKind::markPrivate, "a.b_c-1", 0, 0, 0}},
        {"remove",
         bytes({remove}) + text("abcdefghijklmno"),
         {HelperRequestKind::remove, "abcdefghijklmno", 0, 0, 0}},
    };
    for (const auto& taken : cases) {
        HelperRequest parsed = parseHelperRequest(taken.message);
        const auto* request = std::get_if<HelperInterfaceRequest>(&parsed);
        ASSERT_NE(request, nullptr)
            << taken.what << ": " << std::get<HelperMalformed>(parsed).reason;
        EXPECT_EQ(*request, taken.expected) << taken.what;
        EXPECT_EQ(encodeHelperRequest(*request), taken.message) << taken.what;
    }
}

TEST(HelperProtocol, CreationCarriesTheExactNames) {
    AdapterIdentity identity{u"Orvanti VPN", u"Caf\u00e9 \U0001F600"};
    auto message = encodeHelperCreate(identity);
    ASSERT_TRUE(message);
    EXPECT_EQ(parseHelperRequest(*message), HelperRequest{HelperCreate{identity}});
    EXPECT_FALSE(encodeHelperCreate({u"Pool", u""})) << "no name";
    EXPECT_FALSE(encodeHelperCreate({u"Pool", std::u16string(200, u'x')})) << "too long";
    EXPECT_FALSE(encodeHelperRequest(
        {HelperRequestKind::addAddress, "Orvanti-VPN", 0, htonl(0xC0A82A01), 32}))
        << "what the helper would refuse is never sent";
}

TEST(HelperProtocol, RepliesRoundTripAndBadOnesAreRefused) {
    const HelperReply replies[] = {
        {0, 7, "Orvanti-VPN"},
        {EPERM, 0, "refused: eth0 is not the adapter this helper created"},
        {EINVAL, 0, std::string(255, 'x')},
    };
    for (const auto& reply : replies)
        EXPECT_EQ(parseHelperReply(encodeHelperReply(reply)), reply);
    EXPECT_EQ(parseHelperReply(encodeHelperReply({1, 0, std::string(300, 'y')}))->text.size(), 255u)
        << "a long text is cut, never sent unparseable";
    Bytes good = encodeHelperReply({0, 3, "abc"});
    EXPECT_FALSE(parseHelperReply(Bytes(good.begin(), good.end() - 1))) << "cut short";
    EXPECT_FALSE(parseHelperReply(good + bytes({0}))) << "followed by more";
    EXPECT_FALSE(parseHelperReply(word(0x10000) + word(0) + text(""))) << "no errno value";
    EXPECT_FALSE(parseHelperReply({}));
}

} // namespace
