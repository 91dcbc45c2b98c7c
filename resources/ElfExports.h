#pragma once

// What the loader needs from an ELF shared object before the system's
// loader maps it: that it is a 64-bit x86-64 shared object, its size in
// bytes, and the names it exports (for lookups that ignore case).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ElfSharedObject {
    std::size_t fileSize = 0;
    std::vector<std::string> exportNames; // in the dynamic symbol table's order
};

bool isElfImage(const unsigned char* data, std::size_t size);

// 0 on success, else the last-error code (errorBadExeFormat). size may be
// unknownImageSize: the file's size then follows from its headers.
std::uint32_t readElfSharedObject(const unsigned char* data, std::size_t size,
                                  ElfSharedObject& object);
