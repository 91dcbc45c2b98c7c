// The exception directory is handed to the system's unwinder, which reads
// it whenever an exception passes: a damaged one is refused at load.

#include "platform/LastError.h"
#include "resources/InMemoryLibrary.h"
#include "resources/InMemoryLoad.h"
#include "resources/PeFormat.h"
#include "tests/resources/LoaderTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>

namespace {

std::int32_t ntOffset(const std::vector<unsigned char>& file) {
    return readAt<std::int32_t>(file, pe::dosLfanewOffset);
}

std::size_t directoryAt(const std::vector<unsigned char>& file, unsigned index) {
    return ntOffset(file) + pe::dataDirectoriesOffset + index * sizeof(pe::DataDirectory);
}

pe::DataDirectory exceptionDirectory(const std::vector<unsigned char>& file) {
    return readAt<pe::DataDirectory>(file, directoryAt(file, pe::directoryException));
}

// File offset of entry i of the function table.
std::size_t entryAt(const std::vector<unsigned char>& file, unsigned i) {
    return fileOffsetOf(file, exceptionDirectory(file).VirtualAddress) +
           i * sizeof(pe::RuntimeFunction);
}

pe::RuntimeFunction entry(const std::vector<unsigned char>& file, unsigned i) {
    return readAt<pe::RuntimeFunction>(file, entryAt(file, i));
}

// File offset of the unwind information of entry i.
std::size_t unwindInfoAt(const std::vector<unsigned char>& file, unsigned i) {
    return fileOffsetOf(file, entry(file, i).UnwindData);
}

// The image offset of the first section whose characteristics have this bit.
std::uint32_t sectionWith(const std::vector<unsigned char>& file, std::uint32_t bit) {
    const auto header = readAt<pe::FileHeader>(file, ntOffset(file) + pe::fileHeaderOffset);
    const std::size_t table =
        ntOffset(file) + pe::optionalHeaderOffset + header.SizeOfOptionalHeader;
    for (unsigned i = 0; i < header.NumberOfSections; ++i) {
        const auto section = readAt<pe::SectionHeader>(file, table + i * sizeof(pe::SectionHeader));
        if ((section.Characteristics & bit) && !(section.Characteristics & pe::sectionExecute))
            return section.VirtualAddress;
    }
    ADD_FAILURE() << "no such section";
    return 0;
}

// Sets the flags of entry 0's unwind information and writes what follows
// its codes (none in these small functions).
template <class T>
void setUnwindTrailer(std::vector<unsigned char>& file, std::uint8_t flags, const T& trailer) {
    const std::size_t info = unwindInfoAt(file, 0);
    const auto header = readAt<pe::UnwindInfoHeader>(file, info);
    ASSERT_EQ(header.CountOfCodes, 0) << "the fixture's first function has no prologue codes";
    writeAt<std::uint8_t>(file, info, static_cast<std::uint8_t>(1 | flags << 3));
    writeAt(file, info + sizeof(pe::UnwindInfoHeader), trailer);
}

struct Damage {
    const char* what;
    std::function<void(std::vector<unsigned char>&)> apply;
};

TEST(PeUnwindCheck, DamagedExceptionDirectoryIsRefused) {
    const Damage cases[] = {
        {"size not a whole number of entries",
         [](auto& file) {
             auto directory = exceptionDirectory(file);
             directory.Size -= 4;
             writeAt(file, directoryAt(file, pe::directoryException), directory);
         }},
        {"table not aligned",
         [](auto& file) {
             auto directory = exceptionDirectory(file);
             directory.VirtualAddress += 2;
             writeAt(file, directoryAt(file, pe::directoryException), directory);
         }},
        {"table beyond the image",
         [](auto& file) {
             writeAt(file, directoryAt(file, pe::directoryException),
                     pe::DataDirectory{0x7FFFF000, 12});
         }},
        {"table in a discarded section",
         [](auto& file) {
             writeAt(file, directoryAt(file, pe::directoryException),
                     pe::DataDirectory{sectionWith(file, pe::sectionDiscardable), 12});
         }},
        {"function that ends where it begins",
         [](auto& file) {
             auto function = entry(file, 0);
             function.EndAddress = function.BeginAddress;
             writeAt(file, entryAt(file, 0), function);
         }},
        {"function outside the code",
         [](auto& file) {
             auto function = entry(file, 0);
             const std::uint32_t data = sectionWith(file, pe::sectionWrite);
             function.BeginAddress = data;
             function.EndAddress = data + 8;
             writeAt(file, entryAt(file, 0), function);
         }},
        {"functions out of order",
         [](auto& file) {
             const auto first = entry(file, 0);
             writeAt(file, entryAt(file, 0), entry(file, 1));
             writeAt(file, entryAt(file, 1), first);
         }},
        {"unwind information not aligned",
         [](auto& file) {
             auto function = entry(file, 0);
             function.UnwindData += 1;
             writeAt(file, entryAt(file, 0), function);
         }},
        {"unwind information beyond the image",
         [](auto& file) {
             auto function = entry(file, 0);
             function.UnwindData = 0x7FFFFFF0;
             writeAt(file, entryAt(file, 0), function);
         }},
        {"unknown unwind version",
         [](auto& file) { writeAt<std::uint8_t>(file, unwindInfoAt(file, 0), 3); }},
        {"handler outside the code",
         [](auto& file) {
             setUnwindTrailer(file, pe::unwindFlagExceptionHandler,
                              sectionWith(file, pe::sectionWrite));
         }},
        {"chain that loops",
         [](auto& file) { setUnwindTrailer(file, pe::unwindFlagChainInfo, entry(file, 0)); }},
    };
    for (const Damage& damage : cases) {
        std::vector<unsigned char> file = embeddedCopy("exports.dll");
        ASSERT_GE(exceptionDirectory(file).Size, 2 * sizeof(pe::RuntimeFunction));
        damage.apply(file);
        setLastError(0);
        InMemoryLibrary* library =
            loadInMemoryLibraryFrom(file.data(), file.size(), systemLoaderOptions());
        EXPECT_EQ(library, nullptr) << damage.what;
        EXPECT_EQ(lastError(), 193u) << damage.what;
        freeInMemoryLibrary(library);
    }
}

TEST(PeUnwindCheck, IntactTableIsHeldUntilTheImageIsFreed) {
    const std::vector<unsigned char> file = embeddedCopy("exports.dll");
    InMemoryLibrary* library =
        loadInMemoryLibraryFrom(file.data(), file.size(), systemLoaderOptions());
    ASSERT_NE(library, nullptr) << "last error " << lastError();
    EXPECT_EQ(library->unwindTable, library->codeBase + exceptionDirectory(file).VirtualAddress);
    freeInMemoryLibrary(library);

    // An image without the directory loads with no table.
    std::vector<unsigned char> bare = file;
    writeAt(bare, directoryAt(bare, pe::directoryException), pe::DataDirectory{0, 0});
    library = loadInMemoryLibraryFrom(bare.data(), bare.size(), systemLoaderOptions());
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(library->unwindTable, nullptr);
    freeInMemoryLibrary(library);
}

} // namespace
