#pragma once

// Libraries mapped from a byte buffer by the program's own loader, so that
// they are never written to disk. A Windows library (PE32+) is laid out,
// relocated, linked through replaceable callbacks, protected and started
// here; on Linux an ELF shared object is handed to the system's loader
// through an anonymous memory file instead, with the same contract.
//
// The dependency callbacks serve PE images only: the system's loader links
// an ELF shared object itself. Choices for damaged images: InMemoryLibrary.md.
//
// Failures follow the platform's convention: a null result, and the reason
// in the thread's last-error code (platform/LastError.h).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using InMemoryDependency = void*;

// Loads one library named in the image's import directory; null when it cannot.
using LoadDependencyCallback = InMemoryDependency(const char* name, void* userData);
// Finds one imported symbol. nameOrOrdinal is a name, or an ordinal below
// 0x10000 passed in place of the pointer (the GetProcAddress form).
using ResolveSymbolCallback = void*(InMemoryDependency dependency, const char* nameOrOrdinal,
                                    void* userData);
// Releases one handle obtained from the LoadDependencyCallback.
using ReleaseDependencyCallback = void(InMemoryDependency dependency, void* userData);

struct LibraryFromMemory;

// One export of a mapped image, copied from its export directory at load.
struct InMemoryExportName {
    std::string name;
    std::uint16_t functionIndex;
};

struct InMemoryLibrary {
    void* headers = nullptr;                    // NT headers inside the mapped copy
    unsigned char* codeBase = nullptr;          // the mapped image
    InMemoryDependency* dependencies = nullptr; // in import order; null while empty
    std::int32_t dependencyCount = 0;
    std::int32_t initialized = 0; // the entry point accepted the process attach
    LoadDependencyCallback* loadDependency = nullptr;
    ResolveSymbolCallback* resolveSymbol = nullptr;
    ReleaseDependencyCallback* releaseDependency = nullptr;
    void* userData = nullptr;

    // The loader's own data, taken from the checked headers before any of
    // the image's code ran; the image cannot change it behind our back.
    std::size_t imageSize = 0;
    std::uint32_t entryPoint = 0; // offset from codeBase; 0 when there is none
    std::uint32_t exportDirectoryStart = 0;
    std::uint32_t exportDirectoryEnd = 0;
    std::vector<InMemoryExportName> exportNames; // in the export table's order
    std::vector<std::uint32_t> exportFunctions;  // AddressOfFunctions
    // The image's function table (its exception directory) while the system
    // holds it for unwinding; removed before the image is released.
    void* unwindTable = nullptr;
    // The checked TLS callbacks, once they saw the process attach: they see
    // the detach too (a static thread library removes its exception
    // handlers there; left in place they would point into freed memory).
    std::vector<void*> tlsCallbacks;

    // Set instead of the fields above when the image is an ELF shared object.
    LibraryFromMemory* sharedObject = nullptr;
    std::vector<std::string> sharedObjectExports;
};

// Maps the image at data, taking every size from its own headers, with the
// system's loader for its imports.
InMemoryLibrary* loadInMemoryLibrary(const void* data);

InMemoryLibrary* loadInMemoryLibraryWith(const void* data, LoadDependencyCallback* loadDependency,
                                         ResolveSymbolCallback* resolveSymbol,
                                         ReleaseDependencyCallback* releaseDependency,
                                         void* userData);

// The address of the export of that name, compared without regard to ASCII
// case; null with errorProcNotFound when there is none.
void* findInMemoryExport(InMemoryLibrary* library, const char* name);

// Detaches and unmaps the library and releases its dependencies; null is allowed.
void freeInMemoryLibrary(InMemoryLibrary* library);
