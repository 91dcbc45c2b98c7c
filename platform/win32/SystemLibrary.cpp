#include "platform/SystemLibrary.h"

#include "platform/LastError.h"

#include <windows.h>

void* loadSystemLibrary(const char* name) {
    return LoadLibraryA(name);
}

void* findSystemSymbol(void* library, const char* nameOrOrdinal) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), nameOrOrdinal));
}

void releaseSystemLibrary(void* library) {
    FreeLibrary(static_cast<HMODULE>(library));
}

// Windows libraries are PE images: an ELF shared object is never loadable here.
LibraryFromMemory* openLibraryFromMemory(const char*, const unsigned char*, std::size_t) {
    setLastError(errorBadExeFormat);
    return nullptr;
}

void* findLibraryFromMemorySymbol(LibraryFromMemory*, const char*) {
    return nullptr;
}

void closeLibraryFromMemory(LibraryFromMemory*) {}
