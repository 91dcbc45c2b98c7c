#include "sdk/lobby/UserName.h"

#include <gtest/gtest.h>

using namespace sdk::lobby;

namespace {

struct NameCase {
    const char* what;
    std::string name;
    bool valid;
    std::string cleaned; // what a core sends for it, user id 42
};

std::vector<NameCase> nameCases() {
    const std::string longest(maxUserNameBytes, 'a');
    // 21 three-byte characters (63 bytes) and one more: the last does not fit.
    std::string kana;
    for (int i = 0; i < 22; ++i)
        kana += "カ";
    return {
        {"plain", "alice", true, "alice"},
        {"letters of other scripts", "Åsa Ødegård カルラ", true, "Åsa Ødegård カルラ"},
        {"four-byte character", "ninja 🥷", true, "ninja 🥷"},
        {"longest", longest, true, longest},
        {"one byte too long: cut", longest + "b", false, longest},
        {"cut on a character boundary", kana, false, kana.substr(0, 63)},
        {"empty: named by the id", "", false, "user 42"},
        {"newline and tab dropped", "eve\nhost\t1", false, "evehost1"},
        {"terminal escape dropped", "a\x1b[2Jb", false, "a[2Jb"},
        {"DEL dropped",
         "a\x7f"
         "b",
         false, "ab"},
        {"C1 control dropped",
         "a\xc2\x9b"
         "b",
         false, "ab"},
        {"NUL dropped", std::string("a\0b", 3), false, "ab"},
        {"lone continuation byte dropped", "a\x80z", false, "az"},
        {"truncated sequence dropped", "ok\xe3\x82", false, "ok"},
        {"overlong slash dropped",
         "a\xc0\xaf"
         "b",
         false, "ab"},
        {"surrogate dropped",
         "a\xed\xa0\x80"
         "b",
         false, "ab"},
        {"beyond U+10FFFF dropped",
         "a\xf4\x90\x80\x80"
         "b",
         false, "ab"},
        {"only controls: named by the id", "\x01\x02\n", false, "user 42"},
        {"plain spaces kept", "mary ann lee", true, "mary ann lee"},
        {"emoji with its variation selector kept", "\u2764\ufe0f", true, "\u2764\ufe0f"},
    };
}

// Characters that draw nothing or reorder what follows, so that one member
// could pose as another in the member list: each refused, and dropped from
// the middle of a name.
struct Invisible {
    const char* what;
    const char* character;
};

const Invisible invisibles[] = {
    {"right-to-left override U+202E", "\u202e"},
    {"left-to-right embedding U+202A", "\u202a"},
    {"pop directional formatting U+202C", "\u202c"},
    {"right-to-left isolate U+2067", "\u2067"},
    {"pop directional isolate U+2069", "\u2069"},
    {"right-to-left mark U+200F", "\u200f"},
    {"Arabic letter mark U+061C", "\u061c"},
    {"zero-width space U+200B", "\u200b"},
    {"zero-width non-joiner U+200C", "\u200c"},
    {"zero-width joiner U+200D", "\u200d"},
    {"word joiner U+2060", "\u2060"},
    {"invisible separator U+2063", "\u2063"},
    {"byte-order mark U+FEFF", "\ufeff"},
    {"soft hyphen U+00AD", "\u00ad"},
    {"Mongolian vowel separator U+180E", "\u180e"},
    {"interlinear annotation U+FFF9", "\ufff9"},
    {"line separator U+2028", "\u2028"},
    {"paragraph separator U+2029", "\u2029"},
    {"no-break space U+00A0", "\u00a0"},
    {"en quad U+2000", "\u2000"},
    {"hair space U+200A", "\u200a"},
    {"narrow no-break space U+202F", "\u202f"},
    {"medium mathematical space U+205F", "\u205f"},
    {"ideographic space U+3000", "\u3000"},
    {"Ogham space mark U+1680", "\u1680"},
    {"tag letter U+E0041", "\U000e0041"},
    {"language tag U+E0001", "\U000e0001"},
    {"shorthand format control U+1BCA0", "\U0001bca0"},
    {"musical symbol beam U+1D173", "\U0001d173"},
};

TEST(UserName, InvisibleAndReorderingCharactersAreRefused) {
    for (const auto& c : invisibles) {
        const std::string alone = c.character;
        EXPECT_FALSE(validUserName(alone)) << c.what;
        EXPECT_EQ(cleanUserName(alone, 42), "user 42") << c.what;
        const std::string inside = "al" + alone + "ice";
        EXPECT_FALSE(validUserName(inside)) << c.what;
        EXPECT_EQ(cleanUserName(inside, 42), "alice") << c.what;
    }
}

TEST(UserName, ValidAndCleanedNames) {
    for (const auto& c : nameCases()) {
        EXPECT_EQ(validUserName(c.name), c.valid) << c.what;
        const auto cleaned = cleanUserName(c.name, 42);
        EXPECT_EQ(cleaned, c.cleaned) << c.what;
        EXPECT_TRUE(validUserName(cleaned)) << c.what << ": what a core sends passes";
    }
}

TEST(UserName, EveryByteAloneIsCleanedToSomethingValid) {
    for (int byte = 0; byte < 256; ++byte) {
        const std::string name(1, static_cast<char>(byte));
        const auto cleaned = cleanUserName(name, 7);
        EXPECT_TRUE(validUserName(cleaned)) << "byte " << byte;
        EXPECT_EQ(validUserName(name), byte >= 0x20 && byte < 0x7f) << "byte " << byte;
    }
}

} // namespace
