// Damaged and unusual images: each is refused with its error code, never run
// and never read outside its buffer.

#include "platform/LastError.h"
#include "resources/InMemoryLibrary.h"
#include "resources/InMemoryLoad.h"
#include "resources/PeFormat.h"
#include "tests/resources/HostModules.h"
#include "tests/resources/LoaderTestSupport.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <functional>

namespace {

using GreetingFunction = const char* __attribute__((ms_abi)) ();
using AddNumbersFunction = int __attribute__((ms_abi)) (int, int);

std::int32_t ntOffset(const std::vector<unsigned char>& file) {
    return readAt<std::int32_t>(file, pe::dosLfanewOffset);
}

std::size_t sectionTable(const std::vector<unsigned char>& file) {
    const auto header = readAt<pe::FileHeader>(file, ntOffset(file) + pe::fileHeaderOffset);
    return ntOffset(file) + pe::optionalHeaderOffset + header.SizeOfOptionalHeader;
}

pe::DataDirectory directory(const std::vector<unsigned char>& file, unsigned index) {
    return readAt<pe::DataDirectory>(file, ntOffset(file) + pe::dataDirectoriesOffset + index * 8);
}

InMemoryLibrary* loadSized(const std::vector<unsigned char>& file) {
    return loadInMemoryLibraryFrom(file.data(), file.size(), systemLoaderOptions());
}

struct Damage {
    const char* what;
    std::function<void(std::vector<unsigned char>&)> apply;
    std::uint32_t error;
};

TEST(PeHeaderCheck, DamagedHeadersAreRefused) {
    const Damage cases[] = {
        {"no MZ", [](auto& file) { file[0] = 'X'; }, 193},
        {"no PE signature", [](auto& file) { file[ntOffset(file)] = 'Q'; }, 193},
        {"signature without its zero bytes", [](auto& file) { file[ntOffset(file) + 2] = 1; }, 193},
        {"negative e_lfanew",
         [](auto& file) { writeAt<std::int32_t>(file, pe::dosLfanewOffset, -64); }, 193},
        {"e_lfanew past the end",
         [](auto& file) { writeAt<std::int32_t>(file, pe::dosLfanewOffset, 0x7FFFFFF0); }, 193},
        {"32-bit optional header",
         [](auto& file) {
             writeAt<std::uint16_t>(file, ntOffset(file) + pe::optionalHeaderOffset, 0x10B);
         },
         193},
        {"other machine",
         [](auto& file) {
             writeAt<std::uint16_t>(file, ntOffset(file) + pe::fileHeaderOffset, 0x14C);
         },
         193},
        {"headers larger than the image",
         [](auto& file) {
             writeAt<std::uint32_t>(file, ntOffset(file) + pe::optionalHeaderOffset + 60, 0x100000);
         },
         193},
        {"entry point outside the image",
         [](auto& file) {
             writeAt<std::uint32_t>(file, ntOffset(file) + pe::optionalHeaderOffset + 16,
                                    0x7FFFFFFF);
         },
         193},
        {"section table past the headers",
         [](auto& file) {
             writeAt<std::uint16_t>(file, ntOffset(file) + pe::fileHeaderOffset + 2, 0xFFFF);
         },
         193},
        {"section data past the end of the file",
         [](auto& file) { writeAt<std::uint32_t>(file, sectionTable(file) + 20, 0x7FFFFF00); },
         193},
        {"section beyond the image",
         [](auto& file) { writeAt<std::uint32_t>(file, sectionTable(file) + 12, 0x7FFFF000); },
         193},
        {"truncated file", [](auto& file) { file.resize(0x100); }, 193},
    };
    for (const Damage& damage : cases) {
        std::vector<unsigned char> file = embeddedCopy("exports.dll");
        damage.apply(file);
        setLastError(0);
        EXPECT_EQ(loadSized(file), nullptr) << damage.what;
        EXPECT_EQ(lastError(), damage.error) << damage.what;
    }
}

TEST(PeHeaderCheck, SignaturesAreCheckedWithoutASize) {
    for (auto damage :
         {+[](std::vector<unsigned char>& file) { file[1] = 'Y'; },
          +[](std::vector<unsigned char>& file) { file[ntOffset(file) + 1] = 'F'; }}) {
        std::vector<unsigned char> file = embeddedCopy("exports.dll");
        damage(file);
        setLastError(0);
        EXPECT_EQ(loadInMemoryLibrary(file.data()), nullptr);
        EXPECT_EQ(lastError(), 193u);
    }
}

TEST(PeHeaderCheck, OrdinalIndexEqualToNumberOfFunctionsIsNotFound) {
    std::vector<unsigned char> file = embeddedCopy("exports.dll");
    const auto exports =
        readAt<pe::ExportDirectory>(file, fileOffsetOf(file, directory(file, 0).VirtualAddress));
    const std::uint32_t names = fileOffsetOf(file, exports.AddressOfNames);
    const std::uint32_t ordinals = fileOffsetOf(file, exports.AddressOfNameOrdinals);
    bool patched = false;
    for (std::uint32_t i = 0; i < exports.NumberOfNames; ++i) {
        const auto name = reinterpret_cast<const char*>(
            file.data() + fileOffsetOf(file, readAt<std::uint32_t>(file, names + 4 * i)));
        if (std::string(name) == "AddNumbers") {
            writeAt<std::uint16_t>(file, ordinals + 2 * i,
                                   static_cast<std::uint16_t>(exports.NumberOfFunctions));
            patched = true;
        }
    }
    ASSERT_TRUE(patched);

    InMemoryLibrary* library = loadSized(file);
    ASSERT_NE(library, nullptr);
    setLastError(0);
    EXPECT_EQ(findInMemoryExport(library, "AddNumbers"), nullptr);
    EXPECT_EQ(lastError(), 127u);
    EXPECT_NE(findInMemoryExport(library, "BumpCounter"), nullptr) << "other entries still found";
    freeInMemoryLibrary(library);
}

TEST(PeHeaderCheck, ImageWithoutRelocationsIsRefusedAwayFromItsBase) {
    // The linker always writes relocations for a library; dropping the
    // directory gives the image without them.
    std::vector<unsigned char> file = embeddedCopy("exports.dll");
    writeAt(file, ntOffset(file) + pe::dataDirectoriesOffset + pe::directoryBaseRelocation * 8,
            pe::DataDirectory{0, 0});

    InMemoryLibrary* first = loadSized(file);
    ASSERT_NE(first, nullptr) << "its preferred base is free: last error " << lastError();
    EXPECT_STREQ(reinterpret_cast<GreetingFunction*>(findInMemoryExport(first, "GetGreeting"))(),
                 "hello from the image");

    // Its base is taken now: running it elsewhere unpatched would read
    // through pointers into the first copy.
    setLastError(0);
    EXPECT_EQ(loadSized(file), nullptr);
    EXPECT_EQ(lastError(), 487u);
    freeInMemoryLibrary(first);
}

TEST(PeHeaderCheck, RelocationBlockThatCannotAdvanceIsRefused) {
    // A block of size 0 would make the walk stand still; the image must be
    // relocated to reach it, so its base is taken by a first copy.
    const std::vector<unsigned char> intact = embeddedCopy("exports.dll");
    std::vector<unsigned char> damaged = intact;
    const std::uint32_t relocations =
        fileOffsetOf(damaged, directory(damaged, pe::directoryBaseRelocation).VirtualAddress);
    writeAt<std::uint32_t>(damaged, relocations + 4, 0);

    InMemoryLibrary* first = loadSized(intact);
    ASSERT_NE(first, nullptr);
    setLastError(0);
    EXPECT_EQ(loadSized(damaged), nullptr);
    EXPECT_EQ(lastError(), 193u);
    freeInMemoryLibrary(first);
}

TEST(PeHeaderCheck, FreeOfNullDoesNothing) {
    setLastError(5);
    freeInMemoryLibrary(nullptr);
    EXPECT_EQ(lastError(), 5u);
}

} // namespace
