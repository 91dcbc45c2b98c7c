#pragma once

// The loader's entry for a buffer whose size is known, such as an embedded
// file: nothing is read outside it. The fuzzer uses it too, without running
// the image's code.

#include "resources/ImageBytes.h"
#include "resources/InMemoryLibrary.h"

#include <cstddef>
#include <cstdint>

struct InMemoryLoadOptions {
    LoadDependencyCallback* loadDependency;
    ResolveSymbolCallback* resolveSymbol;
    ReleaseDependencyCallback* releaseDependency;
    void* userData = nullptr;
    const char* name = "in-memory library"; // shown in the memory map of an ELF copy
    bool runImageCode = true;               // TLS callbacks and entry point
    std::size_t maxImageSize = unknownImageSize;
};

// The system loader's callbacks: the defaults of loadInMemoryLibrary.
InMemoryLoadOptions systemLoaderOptions();

// size may be unknownImageSize: then the headers are trusted for it.
InMemoryLibrary* loadInMemoryLibraryFrom(const unsigned char* data, std::size_t size,
                                         const InMemoryLoadOptions& options);
