// ELF shared objects go to the system's loader from an anonymous memory
// file, with the loader's contract: a handle, lookups that ignore case, the
// last error, and a free that unmaps.

#include "platform/LastError.h"
#include "resources/InMemoryLibrary.h"
#include "resources/InMemoryLoad.h"
#include "tests/resources/LoaderTestSupport.h"

#include <gtest/gtest.h>

namespace {

using LastCalledFunction = int();
using VersionFunction = std::uint32_t();

InMemoryLibrary* loadNamed(const std::vector<unsigned char>& file, const char* name) {
    InMemoryLoadOptions options = systemLoaderOptions();
    options.name = name;
    return loadInMemoryLibraryFrom(file.data(), file.size(), options);
}

TEST(SharedObject, EveryLoadMapsItsOwnCopyFromMemory) {
    const std::vector<unsigned char> file = embeddedCopy("fake-wintun.so");
    InMemoryLibrary* first = loadNamed(file, "shared-object-test");
    InMemoryLibrary* second = loadInMemoryLibrary(file.data()); // size from its headers
    ASSERT_NE(first, nullptr) << "last error " << lastError();
    ASSERT_NE(second, nullptr) << "last error " << lastError();
    EXPECT_GT(mappingsNamed("/memfd:shared-object-test"), 0) << "mapped from a memory file";

    auto* firstVersion = reinterpret_cast<VersionFunction*>(
        findInMemoryExport(first, "WintunGetRunningDriverVersion"));
    auto* secondVersion = reinterpret_cast<VersionFunction*>(
        findInMemoryExport(second, "wintungetrunningdriverversion"));
    ASSERT_NE(firstVersion, nullptr);
    ASSERT_NE(secondVersion, nullptr);
    EXPECT_NE(reinterpret_cast<void*>(firstVersion), reinterpret_cast<void*>(secondVersion));

    // Separate data too: a call in one copy is not seen by the other.
    firstVersion();
    auto* firstLastCalled =
        reinterpret_cast<LastCalledFunction*>(findInMemoryExport(first, "FakeWintunLastCalled"));
    auto* secondLastCalled =
        reinterpret_cast<LastCalledFunction*>(findInMemoryExport(second, "FAKEWINTUNLASTCALLED"));
    EXPECT_EQ(firstLastCalled(), 10);
    EXPECT_EQ(secondLastCalled(), 0);

    setLastError(0);
    EXPECT_EQ(findInMemoryExport(first, "WintunNoSuchEntry"), nullptr);
    EXPECT_EQ(lastError(), 127u);

    freeInMemoryLibrary(first);
    freeInMemoryLibrary(second);
    EXPECT_EQ(mappingsNamed("/memfd:shared-object-test"), 0) << "unmapped on free";
}

TEST(SharedObject, DamagedHeadersAreRefused) {
    struct Damage {
        const char* what;
        std::size_t offset;
        unsigned char value;
    };
    const Damage cases[] = {
        {"32-bit class", 4, 1},
        {"big endian", 5, 2},
        {"executable, not shared object", 16, 2},
        {"other machine", 18, 3},
        {"section table beyond the file", 47, 0x7F},
    };
    for (const Damage& damage : cases) {
        std::vector<unsigned char> file = embeddedCopy("fake-wintun.so");
        file[damage.offset] = damage.value;
        setLastError(0);
        EXPECT_EQ(loadNamed(file, "damaged"), nullptr) << damage.what;
        EXPECT_EQ(lastError(), 193u) << damage.what;
    }
    std::vector<unsigned char> truncated = embeddedCopy("fake-wintun.so");
    truncated.resize(truncated.size() / 2);
    EXPECT_EQ(loadNamed(truncated, "truncated"), nullptr);
    EXPECT_EQ(lastError(), 193u);
}

} // namespace
