// The loader on real PE32+ images from the cross-compiler: the mapped code
// is called, so each test shows the image really runs.

#include "platform/LastError.h"
#include "resources/InMemoryLibrary.h"
#include "resources/PeFormat.h"
#include "tests/resources/HostModules.h"
#include "tests/resources/LoaderTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

using AddNumbersFunction = int __attribute__((ms_abi)) (int, int);
using GreetingFunction = const char* __attribute__((ms_abi)) ();
using IntFunction = int __attribute__((ms_abi)) ();
using ComputeFunction = int __attribute__((ms_abi)) (int);

struct LibraryDeleter {
    void operator()(InMemoryLibrary* library) const { freeInMemoryLibrary(library); }
};
using LibraryOwner = std::unique_ptr<InMemoryLibrary, LibraryDeleter>;

template <class Function> Function* exportOf(InMemoryLibrary* library, const char* name) {
    return reinterpret_cast<Function*>(findInMemoryExport(library, name));
}

std::uint64_t preferredBase(const std::vector<unsigned char>& file) {
    const auto nt = readAt<std::int32_t>(file, pe::dosLfanewOffset);
    return readAt<std::uint64_t>(file, nt + pe::imageBaseOffset);
}

bool insideImage(const InMemoryLibrary* library, const void* address) {
    auto* byte = static_cast<const unsigned char*>(address);
    return byte >= library->codeBase && byte < library->codeBase + library->imageSize;
}

TEST(PeImage, ExportsRunFromTheMappedCopy) {
    HostModules host;
    LibraryOwner library(host.load("exports.dll"));
    ASSERT_NE(library, nullptr) << "last error " << lastError();

    EXPECT_EQ(exportOf<AddNumbersFunction>(library.get(), "AddNumbers")(40, 2), 42);
    EXPECT_STREQ(exportOf<GreetingFunction>(library.get(), "GetGreeting")(),
                 "hello from the image");
    auto* bump = exportOf<IntFunction>(library.get(), "BumpCounter");
    EXPECT_EQ(bump(), 1);
    EXPECT_EQ(bump(), 2);
    EXPECT_TRUE(host.loadedModules.empty()) << "an image without imports loads no dependency";
}

TEST(PeImage, ExportLookupIgnoresCaseAndReportsMissingNames) {
    HostModules host;
    LibraryOwner library(host.load("exports.dll"));
    ASSERT_NE(library, nullptr);

    void* exact = findInMemoryExport(library.get(), "MixedCaseName");
    ASSERT_NE(exact, nullptr);
    EXPECT_EQ(findInMemoryExport(library.get(), "mixedcasename"), exact);
    EXPECT_EQ(findInMemoryExport(library.get(), "MIXEDCASENAME"), exact);
    EXPECT_EQ(reinterpret_cast<IntFunction*>(exact)(), 42);

    for (const char* missing : {"NoSuchExport", "MixedCaseNam", "MixedCaseNameX", ""}) {
        setLastError(0);
        EXPECT_EQ(findInMemoryExport(library.get(), missing), nullptr) << missing;
        EXPECT_EQ(lastError(), 127u) << missing;
    }
}

TEST(PeImage, SecondCopyIsRelocatedAndBothRun) {
    HostModules firstHost;
    LibraryOwner first(firstHost.load("exports.dll"));
    HostModules secondHost;
    LibraryOwner second(secondHost.load("exports.dll"));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr) << "last error " << lastError();

    const auto base = preferredBase(embeddedCopy("exports.dll"));
    EXPECT_EQ(reinterpret_cast<std::uint64_t>(first->codeBase), base);
    EXPECT_NE(reinterpret_cast<std::uint64_t>(second->codeBase), base);

    // The greeting is reached through an absolute pointer in the image's
    // data: only a relocated copy points into itself.
    for (InMemoryLibrary* library : {first.get(), second.get()}) {
        const char* greeting = exportOf<GreetingFunction>(library, "GetGreeting")();
        EXPECT_TRUE(insideImage(library, greeting));
        EXPECT_STREQ(greeting, "hello from the image");
        std::uint64_t recordedBase = 0;
        std::memcpy(&recordedBase,
                    static_cast<unsigned char*>(library->headers) + pe::imageBaseOffset, 8);
        EXPECT_EQ(recordedBase, reinterpret_cast<std::uint64_t>(library->codeBase));
    }
    // Each copy has its own data.
    exportOf<IntFunction>(first.get(), "BumpCounter")();
    exportOf<IntFunction>(first.get(), "BumpCounter")();
    EXPECT_EQ(exportOf<IntFunction>(second.get(), "BumpCounter")(), 1);
    EXPECT_EQ(exportOf<AddNumbersFunction>(second.get(), "AddNumbers")(1, 2), 3);
}

TEST(PeImage, ImportsAreResolvedThroughTheCallbacks) {
    HostModules host;
    InMemoryLibrary* library = host.load("imports.dll");
    ASSERT_NE(library, nullptr) << "last error " << lastError();

    // hostAdd(hostScale(5), hostSecret()) + extraOffset()
    EXPECT_EQ(exportOf<ComputeFunction>(library, "Compute")(5), 1057);
    EXPECT_EQ(host.loadedModules, (std::vector<std::string>{"vaskorextra.dll", "vaskorhost.dll"}));
    EXPECT_EQ(host.resolvedSymbols,
              (std::vector<std::string>{"extraOffset", "hostAdd", "hostScale", "#7"}));
    EXPECT_EQ(library->dependencyCount, 2);
    EXPECT_TRUE(host.releases.empty());

    freeInMemoryLibrary(library);
    EXPECT_EQ(host.releases,
              (std::map<std::string, int>{{"vaskorextra.dll", 1}, {"vaskorhost.dll", 1}}));
}

struct ImportFailure {
    const char* what;
    std::set<std::string> unloadable;
    std::set<std::string> unresolvable;
    std::uint32_t error;
    std::map<std::string, int> releases;
};

TEST(PeImage, FailedImportsReleaseEachLoadedDependencyOnce) {
    const ImportFailure cases[] = {
        {"first module cannot be loaded", {"vaskorextra.dll"}, {}, 126, {}},
        {"second module cannot be loaded", {"vaskorhost.dll"}, {}, 126, {{"vaskorextra.dll", 1}}},
        {"symbol by name not found",
         {},
         {"hostScale"},
         127,
         {{"vaskorextra.dll", 1}, {"vaskorhost.dll", 1}}},
        {"symbol by ordinal not found",
         {},
         {"#7"},
         127,
         {{"vaskorextra.dll", 1}, {"vaskorhost.dll", 1}}},
    };
    for (const ImportFailure& failure : cases) {
        HostModules host;
        host.unloadable = failure.unloadable;
        host.unresolvable = failure.unresolvable;
        setLastError(0);
        EXPECT_EQ(host.load("imports.dll"), nullptr) << failure.what;
        EXPECT_EQ(lastError(), failure.error) << failure.what;
        EXPECT_EQ(host.releases, failure.releases) << failure.what;
    }
}

TEST(PeImage, EntryPointAndTlsCallbackSeeAttachAndDetach) {
    HostModules host;
    InMemoryLibrary* library = host.load("lifecycle.dll");
    ASSERT_NE(library, nullptr) << "last error " << lastError();

    EXPECT_EQ(host.tlsCalls, (std::map<std::uint32_t, int>{{1, 1}}));
    EXPECT_EQ(host.entryCalls, (std::map<std::uint32_t, int>{{1, 1}}));
    EXPECT_EQ(library->initialized, 1);
    EXPECT_EQ(exportOf<IntFunction>(library, "Alive")(), 1);

    freeInMemoryLibrary(library);
    EXPECT_EQ(host.entryCalls, (std::map<std::uint32_t, int>{{1, 1}, {0, 1}}));
    EXPECT_EQ(host.tlsCalls, (std::map<std::uint32_t, int>{{1, 1}, {0, 1}}))
        << "TLS sees the detach as well";
    EXPECT_EQ(host.releases, (std::map<std::string, int>{{"vaskorhost.dll", 1}}));
    for (void* module : host.modulesSeen)
        EXPECT_EQ(module, host.modulesSeen.front()) << "every call gets the image's base";
}

TEST(PeImage, EntryPointRefusingTheAttachFailsTheLoad) {
    HostModules host;
    host.entryResult = 0;
    setLastError(0);
    EXPECT_EQ(host.load("lifecycle.dll"), nullptr);
    EXPECT_EQ(lastError(), 1114u);
    EXPECT_EQ(host.entryCalls, (std::map<std::uint32_t, int>{{1, 1}}))
        << "no detach without attach";
    EXPECT_EQ(host.releases, (std::map<std::string, int>{{"vaskorhost.dll", 1}}));
}

std::int32_t ntOffset(const std::vector<unsigned char>& file) {
    return readAt<std::int32_t>(file, pe::dosLfanewOffset);
}

// The image offset of the section of that name in a PE file.
std::uint32_t sectionOffset(const std::vector<unsigned char>& file, const std::string& name) {
    const auto header = readAt<pe::FileHeader>(file, ntOffset(file) + pe::fileHeaderOffset);
    const std::size_t table =
        ntOffset(file) + pe::optionalHeaderOffset + header.SizeOfOptionalHeader;
    for (unsigned i = 0; i < header.NumberOfSections; ++i) {
        const auto section = readAt<pe::SectionHeader>(file, table + i * sizeof(pe::SectionHeader));
        if (std::string(reinterpret_cast<const char*>(section.Name), 8).rfind(name + '\0', 0) == 0)
            return section.VirtualAddress;
    }
    ADD_FAILURE() << "no section " << name;
    return 0;
}

TEST(PeImage, CodeAddressesOutsideTheImageCodeAreNeverCalled) {
    const std::vector<unsigned char> intact = embeddedCopy("lifecycle.dll");
    const std::uint32_t data = sectionOffset(intact, ".data");

    std::vector<unsigned char> entryInData = intact;
    writeAt<std::uint32_t>(entryInData, ntOffset(entryInData) + pe::optionalHeaderOffset + 16,
                           data);

    std::vector<unsigned char> tlsCallbackInData = intact;
    const auto tlsDirectory = readAt<pe::DataDirectory>(
        intact, ntOffset(intact) + pe::dataDirectoriesOffset + pe::directoryTls * 8);
    const auto tls =
        readAt<pe::TlsDirectory64>(intact, fileOffsetOf(intact, tlsDirectory.VirtualAddress));
    const std::uint64_t base = preferredBase(intact);
    const auto callbacks = static_cast<std::uint32_t>(tls.AddressOfCallBacks - base);
    writeAt<std::uint64_t>(tlsCallbackInData, fileOffsetOf(intact, callbacks), base + data);

    for (auto* damaged : {&entryInData, &tlsCallbackInData}) {
        HostModules host;
        setLastError(0);
        EXPECT_EQ(host.load(*damaged), nullptr);
        EXPECT_EQ(lastError(), 193u);
        EXPECT_TRUE(host.entryCalls.empty());
        EXPECT_TRUE(host.tlsCalls.empty());
        EXPECT_EQ(host.releases, (std::map<std::string, int>{{"vaskorhost.dll", 1}}));
    }
}

TEST(PeImage, SectionsGetTheirProtectionAndDiscardableOnesAreDecommitted) {
    HostModules host;
    LibraryOwner library(host.load("exports.dll"));
    ASSERT_NE(library, nullptr);

    const auto* nt = static_cast<const unsigned char*>(library->headers);
    pe::FileHeader file{};
    std::memcpy(&file, nt + pe::fileHeaderOffset, sizeof(file));
    const unsigned char* table = nt + pe::optionalHeaderOffset + file.SizeOfOptionalHeader;
    const std::map<std::string, std::string> expected = {{".text", "r-xp"},
                                                         {".data", "rw-p"},
                                                         {".rdata", "r--p"},
                                                         {".edata", "r--p"},
                                                         {".reloc", "---p"}};
    int checked = 0;
    for (unsigned i = 0; i < file.NumberOfSections; ++i) {
        pe::SectionHeader section{};
        std::memcpy(&section, table + i * sizeof(section), sizeof(section));
        const std::string name(reinterpret_cast<const char*>(section.Name),
                               strnlen(reinterpret_cast<const char*>(section.Name), 8));
        const unsigned char* address = library->codeBase + section.VirtualAddress;
        if (section.Characteristics & pe::sectionDiscardable) {
            EXPECT_FALSE(pageResident(address)) << name;
        }
        auto wanted = expected.find(name);
        if (wanted == expected.end())
            continue;
        EXPECT_EQ(mappingPermissions(address), wanted->second) << name;
        ++checked;
    }
    EXPECT_EQ(checked, static_cast<int>(expected.size()));
}

} // namespace
