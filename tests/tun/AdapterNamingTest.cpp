#include "platform/linux/AdapterAlias.h"
#include "tun/InterfaceName.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct NameCase {
    std::u16string adapterName;
    unsigned attempt;
    std::string interfaceName;
};

TEST(InterfaceName, DerivesALinuxNameFromTheAdapterName) {
    const NameCase cases[] = {
        {u"Orvanti VPN", 0, "Orvanti-VPN"},
        {u"Orvanti VPN", 3, "Orvanti-VPN-3"},
        {u"A very long adapter name", 0, "A-very-long-ada"},
        {u"A very long adapter name", 12, "A-very-long--12"},
        {u"tab\tand/slash:colon", 0, "tab-and-slash-c"},
        {u"caf\u00e9 \U0001F600", 0, "caf---"},
        {u"..", 0, "wintun"},
        {u"", 0, "wintun"},
        {u"keep_these.-", 0, "keep_these.-"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(interfaceNameFor(c.adapterName, c.attempt), c.interfaceName) << c.interfaceName;
}

TEST(AdapterAlias, KeepsThePoolAndTheExactName) {
    const AdapterIdentity identities[] = {
        {u"Orvanti VPN", u"Orvanti VPN"},
        {u"pool", u"caf\u00e9 \U0001F600 \u4e2d\u6587"},
        {u"p", std::u16string(127, u'n')},
    };
    for (const auto& identity : identities) {
        auto alias = encodeAdapterAlias(identity);
        ASSERT_TRUE(alias);
        EXPECT_LE(alias->size(), 255u);
        EXPECT_EQ(decodeAdapterAlias(*alias), identity);
    }
    EXPECT_EQ(*encodeAdapterAlias({u"Orvanti VPN", u"Orvanti VPN"}),
              "wintun\tOrvanti VPN\tOrvanti VPN");
}

TEST(AdapterAlias, RefusesNamesItCannotKeep) {
    const AdapterIdentity refused[] = {
        {u"", u"name"},
        {u"pool", u""},
        {u"pool", std::u16string(128, u'n')},
        {u"pool", u"with\ttab"},
        {u"pool", u"lone \xD800 surrogate"},
        {std::u16string(100, u'\u4e2d'), u"too long in UTF-8"},
    };
    for (const auto& identity : refused)
        EXPECT_FALSE(encodeAdapterAlias(identity));
}

TEST(AdapterAlias, IgnoresAliasesThatAreNotOurs) {
    for (const char* alias : {"", "wintun", "wintun\tpool", "my uplink", "wintun\t\tname",
                              "wintun\tpool\tname\textra", "wintun\tpo\xC3ol\tname"})
        EXPECT_FALSE(decodeAdapterAlias(alias)) << alias;
    // Two names each short enough, together longer than an alias holds
    // (found by the fuzzer: it decoded, but would never encode again).
    const std::string tooLong = "wintun\t" + std::string(127, 'p') + "\t" + std::string(126, 'n');
    EXPECT_GT(tooLong.size(), 255u);
    EXPECT_FALSE(decodeAdapterAlias(tooLong));
}

} // namespace
