#pragma once

// The checked headers of a PE32+ image: everything the loader later relies
// on is validated here, before any memory is reserved.

#include "resources/ImageBytes.h"
#include "resources/PeFormat.h"

#include <cstddef>
#include <cstdint>

struct PeHeaders {
    std::uint32_t ntOffset = 0; // e_lfanew
    pe::FileHeader file{};
    pe::OptionalHeader64 optional{};
    pe::DataDirectory directories[pe::directoryCount]{}; // absent ones are zero
    std::uint64_t sectionTableOffset = 0;

    const pe::DataDirectory& directory(std::uint32_t index) const { return directories[index]; }
};

// Reads and checks the headers and the section table of the image in
// source; 0 on success, else the last-error code (errorBadExeFormat).
// Images larger than maxImageSize are refused with errorOutOfMemory.
std::uint32_t readPeHeaders(const ImageBytes& source, std::size_t maxImageSize, PeHeaders& headers);

// Section header number index of a checked image.
pe::SectionHeader sectionHeader(const ImageBytes& source, const PeHeaders& headers,
                                std::uint32_t index);
