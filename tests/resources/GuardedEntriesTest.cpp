// A Windows program (run under Wine): a library with its own C++ runtime,
// mapped by our loader as the SDK is, throws inside its entry points; behind
// the SDK's entry guard the program sees result codes, never the exception.

#include "interfaces/DiscordSdk.h"
#include "platform/LastError.h"
#include "resources/InMemoryLoad.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

using NewTransactionFunction = DiscordLobbyTransaction*();
using LastFailureFunction = const char*();

struct LibraryDeleter {
    void operator()(InMemoryLibrary* library) const { freeInMemoryLibrary(library); }
};
using LibraryOwner = std::unique_ptr<InMemoryLibrary, LibraryDeleter>;

template <class Function> Function* exportOf(InMemoryLibrary* library, const char* name) {
    return reinterpret_cast<Function*>(findInMemoryExport(library, name));
}

struct ThrowCase {
    const char* what;
    DiscordResultCode (*call)(DiscordLobbyTransaction*);
    DiscordResultCode expected;
    const char* logged; // the guard's line, or empty when nothing failed
};

const ThrowCase throwCases[] = {
    {"a standard exception", [](DiscordLobbyTransaction* t) { return t->setType(t, 99); },
     DiscordResult_InternalError, "setType failed: thrown inside the library"},
    {"no exception", [](DiscordLobbyTransaction* t) { return t->setType(t, 1); }, DiscordResult_Ok,
     ""},
    {"something that is no exception class",
     [](DiscordLobbyTransaction* t) { return t->setCapacity(t, 99); }, DiscordResult_InternalError,
     "setCapacity failed: an unknown exception"},
    {"no exception again", [](DiscordLobbyTransaction* t) { return t->setCapacity(t, 8); },
     DiscordResult_Ok, ""},
};

TEST(GuardedEntries, ExceptionsInsideTheLibraryReachTheProgramAsResultCodes) {
    std::ifstream file("guarded.dll", std::ios::binary);
    const std::vector<unsigned char> image{std::istreambuf_iterator<char>(file), {}};
    ASSERT_FALSE(image.empty()) << "guarded.dll beside the test program";
    LibraryOwner library(
        loadInMemoryLibraryFrom(image.data(), image.size(), systemLoaderOptions()));
    ASSERT_NE(library, nullptr) << "last error " << lastError();
    auto* newTransaction =
        exportOf<NewTransactionFunction>(library.get(), "NewThrowingTransaction");
    auto* lastFailure = exportOf<LastFailureFunction>(library.get(), "LastEntryFailure");
    ASSERT_NE(newTransaction, nullptr);
    ASSERT_NE(lastFailure, nullptr);

    DiscordLobbyTransaction* transaction = newTransaction();
    ASSERT_NE(transaction, nullptr);
    for (const auto& c : throwCases) {
        const std::string before = lastFailure();
        EXPECT_EQ(c.call(transaction), c.expected) << c.what;
        EXPECT_EQ(lastFailure(), std::string(*c.logged ? c.logged : before.c_str())) << c.what;
    }
    transaction->release(transaction);
}

} // namespace
