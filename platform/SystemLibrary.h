#pragma once

// The operating system's own library loader: the default way an in-memory
// library reaches the libraries it imports from.

#include <cstddef>

// A library loaded by name; null when it cannot be loaded.
void* loadSystemLibrary(const char* name);

// A symbol by name, or by ordinal when the pointer's value is below 0x10000
// (the GetProcAddress form); null when not found.
void* findSystemSymbol(void* library, const char* nameOrOrdinal);

void releaseSystemLibrary(void* library);

// A shared object that the system's loader maps from bytes in memory, with
// no file written to disk. Only systems whose own libraries are ELF have it.
struct LibraryFromMemory;

// Null with the thread's last-error code set when it cannot be loaded.
// name shows up in the process's memory map.
LibraryFromMemory* openLibraryFromMemory(const char* name, const unsigned char* bytes,
                                         std::size_t size);

// The symbol of exactly this name, or null.
void* findLibraryFromMemorySymbol(LibraryFromMemory* library, const char* name);

void closeLibraryFromMemory(LibraryFromMemory* library);
