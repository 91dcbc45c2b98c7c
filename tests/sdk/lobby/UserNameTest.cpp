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
    };
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
