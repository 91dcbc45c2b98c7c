#pragma once

// The steps that turn a checked PE32+ image into a mapped, linked and
// protected copy. Each returns 0 on success or the last-error code of its
// failure; every table read is bounded by the mapped image.

#include "resources/ImageBytes.h"
#include "resources/InMemoryLibrary.h"
#include "resources/PeHeaders.h"

#include <array>
#include <cstdint>
#include <vector>

// Page protection by a section's executable, readable and writable bits:
// index = executable * 4 + readable * 2 + writable.
constexpr std::array<std::uint32_t, 8> sectionProtection = {
    0x01, // PAGE_NOACCESS
    0x08, // PAGE_WRITECOPY
    0x02, // PAGE_READONLY
    0x04, // PAGE_READWRITE
    0x10, // PAGE_EXECUTE
    0x80, // PAGE_EXECUTE_WRITECOPY
    0x20, // PAGE_EXECUTE_READ
    0x40, // PAGE_EXECUTE_READWRITE
};

// A section as mapped: its full address is kept here, in the loader's own
// data, whatever the section header's 32-bit field holds.
struct MappedSection {
    unsigned char* address;
    std::uint32_t rawSize;
    std::uint32_t characteristics;
};

// Calling conventions of the image's own code: the Windows x64 ABI on every system.
using ImageEntryPoint = int
    __attribute__((ms_abi)) (void* module, std::uint32_t reason, void* reserved);
using ImageTlsCallback = void
    __attribute__((ms_abi)) (void* module, std::uint32_t reason, void* reserved);

std::uint32_t copySections(WritableImageBytes& image, const ImageBytes& source,
                           const PeHeaders& headers, std::vector<MappedSection>& sections);

std::uint32_t applyRelocations(WritableImageBytes& image, const PeHeaders& headers,
                               std::uint64_t delta);

std::uint32_t resolveImports(InMemoryLibrary& library, WritableImageBytes& image,
                             const PeHeaders& headers);

// Copies the export table into the library's own data.
void readExports(InMemoryLibrary& library, const ImageBytes& image, const PeHeaders& headers);

// The TLS callbacks of the image, each checked to lie in its code.
std::uint32_t collectTlsCallbacks(const ImageBytes& image, const PeHeaders& headers,
                                  const std::vector<MappedSection>& sections,
                                  std::vector<void*>& callbacks);

// Whether the code at this offset lies in a kept, executable section.
bool isImageCode(const ImageBytes& image, const PeHeaders& headers,
                 const std::vector<MappedSection>& sections, std::uint64_t offset);

// Whether [offset, offset + size) lies inside one section that stays mapped
// (not discardable), within the range its protection covers.
bool keptSectionHolds(const ImageBytes& image, const PeHeaders& headers,
                      const std::vector<MappedSection>& sections, std::uint64_t offset,
                      std::uint64_t size);

void protectSections(const ImageBytes& image, const PeHeaders& headers,
                     const std::vector<MappedSection>& sections);

void runTlsCallbacks(unsigned char* codeBase, const std::vector<void*>& callbacks,
                     std::uint32_t reason);
