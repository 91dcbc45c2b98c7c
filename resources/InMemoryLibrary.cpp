#include "resources/InMemoryLibrary.h"

#include "platform/LastError.h"
#include "platform/Memory.h"
#include "platform/SystemLibrary.h"
#include "platform/UnwindTable.h"
#include "resources/ElfExports.h"
#include "resources/InMemoryLoad.h"
#include "resources/PeHeaders.h"
#include "resources/PeSteps.h"
#include "resources/PeUnwind.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace {

InMemoryDependency loadWithSystem(const char* name, void*) {
    return loadSystemLibrary(name);
}

void* resolveWithSystem(InMemoryDependency dependency, const char* nameOrOrdinal, void*) {
    return findSystemSymbol(dependency, nameOrOrdinal);
}

void releaseWithSystem(InMemoryDependency dependency, void*) {
    releaseSystemLibrary(dependency);
}

InMemoryLibrary* fail(std::uint32_t code) {
    setLastError(code);
    return nullptr;
}

// Undoes a partial load; the failing step's code is the one the caller sees,
// whatever the release callbacks did to the last error.
InMemoryLibrary* failAndFree(InMemoryLibrary* library, std::uint32_t code) {
    freeInMemoryLibrary(library);
    return fail(code);
}

bool equalsIgnoringCase(const char* a, const char* b) {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
    for (; *a && *b; ++a, ++b)
        if (lower(static_cast<unsigned char>(*a)) != lower(static_cast<unsigned char>(*b)))
            return false;
    return *a == *b;
}

// The block for the image: at its preferred base, or elsewhere when its
// relocation data lets it move. An image that cannot move and cannot have
// its base is refused rather than run with unpatched addresses.
void* reserveImage(const PeHeaders& headers, std::uint32_t& error) {
    const std::uint64_t preferred = headers.optional.ImageBase;
    const std::size_t size = headers.optional.SizeOfImage;
    if (preferred != 0)
        if (void* block = reserveAndCommitPages(reinterpret_cast<void*>(preferred), size))
            return block;
    if (headers.directory(pe::directoryBaseRelocation).Size == 0) {
        error = errorInvalidAddress;
        return nullptr;
    }
    void* block = reserveAndCommitPages(nullptr, size);
    if (!block)
        error = errorOutOfMemory;
    return block;
}

InMemoryLibrary* loadPeImage(const ImageBytes& source, const InMemoryLoadOptions& options) {
    PeHeaders headers;
    if (std::uint32_t error = readPeHeaders(source, options.maxImageSize, headers))
        return fail(error);

    std::uint32_t reserveError = 0;
    auto* codeBase = static_cast<unsigned char*>(reserveImage(headers, reserveError));
    if (!codeBase)
        return fail(reserveError);
    const std::size_t imageSize = headers.optional.SizeOfImage;

    auto* library = new (std::nothrow) InMemoryLibrary;
    if (!library) {
        releasePages(codeBase, imageSize);
        return fail(errorOutOfMemory);
    }
    library->codeBase = codeBase;
    library->imageSize = imageSize;
    library->entryPoint = headers.optional.AddressOfEntryPoint;
    library->loadDependency = options.loadDependency;
    library->resolveSymbol = options.resolveSymbol;
    library->releaseDependency = options.releaseDependency;
    library->userData = options.userData;

    try {
        WritableImageBytes image(codeBase, imageSize);
        commitPages(codeBase, headers.optional.SizeOfHeaders);
        std::memcpy(codeBase, source.at(0), headers.optional.SizeOfHeaders);
        library->headers = codeBase + headers.ntOffset;
        const auto base = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(codeBase));
        image.write(std::uint64_t{headers.ntOffset} + pe::imageBaseOffset, base);

        std::vector<MappedSection> sections;
        if (std::uint32_t error = copySections(image, source, headers, sections))
            return failAndFree(library, error);
        if (base != headers.optional.ImageBase)
            if (std::uint32_t error =
                    applyRelocations(image, headers, base - headers.optional.ImageBase))
                return failAndFree(library, error);
        if (std::uint32_t error = resolveImports(*library, image, headers))
            return failAndFree(library, error);
        readExports(*library, image, headers);
        std::vector<void*> tlsCallbacks;
        if (std::uint32_t error = collectTlsCallbacks(image, headers, sections, tlsCallbacks))
            return failAndFree(library, error);
        if (library->entryPoint != 0 && !isImageCode(image, headers, sections, library->entryPoint))
            return failAndFree(library, errorBadExeFormat);
        UnwindTableRange unwind;
        if (std::uint32_t error = checkUnwindTable(image, headers, sections, unwind))
            return failAndFree(library, error);
        protectSections(image, headers, sections);
        // Before any of the image's code runs: an exception thrown in its
        // entry point, even one it catches, needs the table.
        if (unwind.count != 0) {
            if (!registerUnwindTable(codeBase + unwind.offset, unwind.count, codeBase))
                return failAndFree(library, errorOutOfMemory);
            library->unwindTable = codeBase + unwind.offset;
        }

        if (!options.runImageCode)
            return library;
        library->tlsCallbacks = std::move(tlsCallbacks);
        runTlsCallbacks(codeBase, library->tlsCallbacks, pe::dllProcessAttach);
        if (library->entryPoint != 0) {
            auto* entry = reinterpret_cast<ImageEntryPoint*>(codeBase + library->entryPoint);
            if (entry(codeBase, pe::dllProcessAttach, nullptr) == 0)
                return failAndFree(library, errorDllInitFailed);
            library->initialized = 1;
        }
        return library;
    } catch (const std::bad_alloc&) {
        return failAndFree(library, errorOutOfMemory);
    }
}

InMemoryLibrary* loadSharedObject(const unsigned char* data, std::size_t size,
                                  const InMemoryLoadOptions& options) {
    ElfSharedObject object;
    try {
        if (std::uint32_t error = readElfSharedObject(data, size, object))
            return fail(error);
    } catch (const std::bad_alloc&) {
        return fail(errorOutOfMemory);
    }
    auto* library = new (std::nothrow) InMemoryLibrary;
    if (!library)
        return fail(errorOutOfMemory);
    library->sharedObject = openLibraryFromMemory(options.name, data, object.fileSize);
    if (!library->sharedObject) {
        const std::uint32_t error = lastError();
        delete library;
        return fail(error);
    }
    library->sharedObjectExports = std::move(object.exportNames);
    return library;
}

void* findPeExport(const InMemoryLibrary& library, const char* name) {
    for (const InMemoryExportName& exported : library.exportNames) {
        if (!equalsIgnoringCase(exported.name.c_str(), name))
            continue;
        // The first match decides, even when its entry is unusable.
        if (exported.functionIndex >= library.exportFunctions.size())
            return nullptr;
        const std::uint32_t offset = library.exportFunctions[exported.functionIndex];
        const bool forwarded =
            offset >= library.exportDirectoryStart && offset < library.exportDirectoryEnd;
        if (offset == 0 || offset >= library.imageSize || forwarded)
            return nullptr;
        return library.codeBase + offset;
    }
    return nullptr;
}

void* findSharedObjectExport(const InMemoryLibrary& library, const char* name) {
    for (const std::string& exported : library.sharedObjectExports)
        if (equalsIgnoringCase(exported.c_str(), name))
            return findLibraryFromMemorySymbol(library.sharedObject, exported.c_str());
    return nullptr;
}

} // namespace

InMemoryLoadOptions systemLoaderOptions() {
    return InMemoryLoadOptions{loadWithSystem, resolveWithSystem, releaseWithSystem};
}

InMemoryLibrary* loadInMemoryLibraryFrom(const unsigned char* data, std::size_t size,
                                         const InMemoryLoadOptions& options) {
    if (!data)
        return fail(errorBadExeFormat);
    if (isElfImage(data, size))
        return loadSharedObject(data, size, options);
    return loadPeImage(ImageBytes(data, size), options);
}

InMemoryLibrary* loadInMemoryLibrary(const void* data) {
    return loadInMemoryLibraryFrom(static_cast<const unsigned char*>(data), unknownImageSize,
                                   systemLoaderOptions());
}

InMemoryLibrary* loadInMemoryLibraryWith(const void* data, LoadDependencyCallback* loadDependency,
                                         ResolveSymbolCallback* resolveSymbol,
                                         ReleaseDependencyCallback* releaseDependency,
                                         void* userData) {
    InMemoryLoadOptions options{loadDependency, resolveSymbol, releaseDependency, userData};
    return loadInMemoryLibraryFrom(static_cast<const unsigned char*>(data), unknownImageSize,
                                   options);
}

void* findInMemoryExport(InMemoryLibrary* library, const char* name) {
    void* address = nullptr;
    if (library && name)
        address = library->sharedObject ? findSharedObjectExport(*library, name)
                                        : findPeExport(*library, name);
    if (!address)
        setLastError(errorProcNotFound);
    return address;
}

void freeInMemoryLibrary(InMemoryLibrary* library) {
    if (!library)
        return;
    if (library->sharedObject)
        closeLibraryFromMemory(library->sharedObject);
    // The system's order: TLS callbacks first, then the entry point.
    runTlsCallbacks(library->codeBase, library->tlsCallbacks, pe::dllProcessDetach);
    if (library->initialized) {
        auto* entry = reinterpret_cast<ImageEntryPoint*>(library->codeBase + library->entryPoint);
        entry(library->codeBase, pe::dllProcessDetach, nullptr);
        library->initialized = 0;
    }
    if (library->unwindTable) {
        unregisterUnwindTable(library->unwindTable);
        library->unwindTable = nullptr;
    }
    if (library->dependencies) {
        for (std::int32_t i = 0; i < library->dependencyCount; ++i)
            if (library->dependencies[i])
                library->releaseDependency(library->dependencies[i], library->userData);
        std::free(library->dependencies);
    }
    releasePages(library->codeBase, library->imageSize);
    delete library;
}
