// A Windows program (run under Wine): a library that throws a C++ exception
// and catches it inside itself is mapped by our loader and called. The
// system's exception dispatcher unwinds through the mapped image only with
// the image's function table registered.

#include "platform/LastError.h"
#include "platform/UnwindTable.h"
#include "resources/InMemoryLoad.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace {

using CatchInsideFunction = int(int);
using CaughtAtAttachFunction = int();

struct LibraryDeleter {
    void operator()(InMemoryLibrary* library) const { freeInMemoryLibrary(library); }
};
using LibraryOwner = std::unique_ptr<InMemoryLibrary, LibraryDeleter>;

std::vector<unsigned char> fixtureImage() {
    std::ifstream file("unwind.dll", std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

LibraryOwner load(const std::vector<unsigned char>& image) {
    return LibraryOwner(loadInMemoryLibraryFrom(image.data(), image.size(), systemLoaderOptions()));
}

template <class Function> Function* exportOf(InMemoryLibrary* library, const char* name) {
    return reinterpret_cast<Function*>(findInMemoryExport(library, name));
}

// The system's own view: the function entry it finds for a code address.
PRUNTIME_FUNCTION functionEntryOf(void* code) {
    DWORD64 base = 0;
    return RtlLookupFunctionEntry(reinterpret_cast<DWORD64>(code), &base, nullptr);
}

TEST(UnwindRegistration, ExceptionCaughtInsideTheImageReturnsNormally) {
    const std::vector<unsigned char> image = fixtureImage();
    ASSERT_FALSE(image.empty()) << "unwind.dll beside the test program";
    LibraryOwner library = load(image);
    ASSERT_NE(library, nullptr) << "last error " << lastError();
    ASSERT_NE(library->unwindTable, nullptr);

    // Thrown and caught by the image's constructors, during the entry point.
    EXPECT_EQ(exportOf<CaughtAtAttachFunction>(library.get(), "CaughtAtAttach")(), 100);
    auto* catchInside = exportOf<CatchInsideFunction>(library.get(), "CatchInside");
    ASSERT_NE(catchInside, nullptr);
    EXPECT_EQ(catchInside(21), 42);
    EXPECT_EQ(catchInside(0), -1) << "no exception on this path";
    EXPECT_EQ(catchInside(7), 14) << "a second throw after the first";

    PRUNTIME_FUNCTION entry = functionEntryOf(reinterpret_cast<void*>(catchInside));
    ASSERT_NE(entry, nullptr);
    const auto offset = static_cast<std::uint32_t>(reinterpret_cast<unsigned char*>(catchInside) -
                                                   library->codeBase);
    EXPECT_LE(entry->BeginAddress, offset);
    EXPECT_GT(entry->EndAddress, offset);

    library.reset();
    EXPECT_EQ(functionEntryOf(reinterpret_cast<void*>(catchInside)), nullptr)
        << "the table is removed with the image";
}

TEST(UnwindRegistration, EachCopyHasItsOwnTable) {
    const std::vector<unsigned char> image = fixtureImage();
    LibraryOwner first = load(image);
    LibraryOwner second = load(image);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr) << "last error " << lastError();
    ASSERT_NE(first->codeBase, second->codeBase) << "the second copy is relocated";

    auto* secondCatch = exportOf<CatchInsideFunction>(second.get(), "CatchInside");
    EXPECT_EQ(exportOf<CatchInsideFunction>(first.get(), "CatchInside")(3), 6);
    EXPECT_EQ(secondCatch(4), 8);
    // Freeing one copy leaves the other's table in place.
    first.reset();
    EXPECT_EQ(secondCatch(5), 10);
    EXPECT_EQ(exportOf<CaughtAtAttachFunction>(second.get(), "CaughtAtAttach")(), 100);
}

DWORD WINAPI callCatchInside(void* function) {
    return static_cast<DWORD>(reinterpret_cast<CatchInsideFunction*>(function)(21));
}

// What the loader mends: with the table taken away again the dispatcher
// cannot unwind through the image, the image's own handler is never found,
// and on a thread with no handler of the caller's the C++ runtime ends the
// process. (Under Wine an enclosing handler of the caller's catches it
// instead: the exception escapes the image.)
TEST(UnwindRegistrationDeathTest, WithoutTheTableTheThrowEndsTheProcess) {
    const std::vector<unsigned char> image = fixtureImage();
    LibraryOwner library = load(image);
    ASSERT_NE(library, nullptr);
    auto* catchInside = exportOf<CatchInsideFunction>(library.get(), "CatchInside");
    EXPECT_EXIT(
        {
            unregisterUnwindTable(library->unwindTable);
            HANDLE thread = CreateThread(nullptr, 0, callCatchInside,
                                         reinterpret_cast<void*>(catchInside), 0, nullptr);
            WaitForSingleObject(thread, INFINITE);
            DWORD result = 0;
            GetExitCodeThread(thread, &result);
            std::exit(result == 42 ? 0 : 1);
        },
        testing::ExitedWithCode(3), "terminate called after throwing");
}

} // namespace
