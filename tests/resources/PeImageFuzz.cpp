// Arbitrary bytes through the loader's header checks and table walks:
// headers, sections, relocations, imports, exports, TLS and the exception
// directory (the unwind table handed to the system). The image's code
// is never run, and ELF input goes only through its header reader (the
// system's loader would run its constructors).

#include "resources/ElfExports.h"
#include "resources/InMemoryLoad.h"

#include <cstdint>
#include <cstring>

namespace {

int dependencyToken = 0;
int symbolToken = 0;

// Dependencies named with a leading 'x' cannot be loaded, and symbols named
// with a leading 'x' cannot be found, so the failure paths are reached too.
InMemoryDependency loadDependency(const char* name, void*) {
    return name[0] == 'x' ? nullptr : &dependencyToken;
}

void* resolveSymbol(InMemoryDependency, const char* nameOrOrdinal, void*) {
    if (reinterpret_cast<std::uintptr_t>(nameOrOrdinal) < 0x10000)
        return &symbolToken;
    return nameOrOrdinal[0] == 'x' ? nullptr : &symbolToken;
}

void releaseDependency(InMemoryDependency, void*) {}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (isElfImage(data, size)) {
        ElfSharedObject object;
        readElfSharedObject(data, size, object);
        return 0;
    }
    InMemoryLoadOptions options{loadDependency, resolveSymbol, releaseDependency};
    options.runImageCode = false;
    options.maxImageSize = 16 << 20;
    InMemoryLibrary* library = loadInMemoryLibraryFrom(data, size, options);
    if (!library)
        return 0;
    for (const InMemoryExportName& exported : library->exportNames)
        findInMemoryExport(library, exported.name.c_str());
    findInMemoryExport(library, "DiscordCreate");
    freeInMemoryLibrary(library);
    return 0;
}
