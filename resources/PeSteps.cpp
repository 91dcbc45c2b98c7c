#include "resources/PeSteps.h"

#include "platform/LastError.h"
#include "platform/Memory.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// The bytes protectSections applies a section's protection to; 0 for none.
std::uint64_t protectedSize(const MappedSection& section, const PeHeaders& headers) {
    if (section.rawSize != 0)
        return section.rawSize;
    if (section.characteristics & pe::sectionCodeInitializedData)
        return headers.optional.SizeOfInitializedData;
    if (section.characteristics & pe::sectionCodeUninitializedData)
        return headers.optional.SizeOfUninitializedData;
    return 0;
}

std::uint32_t protectionOf(std::uint32_t characteristics) {
    const unsigned executable = (characteristics & pe::sectionExecute) ? 1 : 0;
    const unsigned readable = (characteristics & pe::sectionRead) ? 1 : 0;
    const unsigned writable = (characteristics & pe::sectionWrite) ? 1 : 0;
    std::uint32_t protection = sectionProtection[executable * 4 + readable * 2 + writable];
    if (characteristics & pe::sectionNotCached)
        protection |= pageNoCache;
    return protection;
}

} // namespace

std::uint32_t copySections(WritableImageBytes& image, const ImageBytes& source,
                           const PeHeaders& headers, std::vector<MappedSection>& sections) {
    const std::uint64_t tableInImage = headers.sectionTableOffset;
    for (std::uint32_t i = 0; i < headers.file.NumberOfSections; ++i) {
        const pe::SectionHeader section = sectionHeader(source, headers, i);
        unsigned char* address = image.at(section.VirtualAddress);
        if (section.SizeOfRawData == 0) {
            const std::uint32_t alignment = headers.optional.SectionAlignment;
            if (alignment == 0)
                continue;
            if (!commitPages(address, alignment))
                return errorOutOfMemory;
            std::memset(address, 0, alignment);
        } else {
            if (!commitPages(address, section.SizeOfRawData))
                return errorOutOfMemory;
            std::memcpy(address, source.at(section.PointerToRawData), section.SizeOfRawData);
        }
        sections.push_back({address, section.SizeOfRawData, section.Characteristics});
        const auto lowHalf = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address));
        image.write(tableInImage + std::uint64_t{i} * sizeof(pe::SectionHeader) +
                        pe::sectionMiscOffset,
                    lowHalf);
    }
    return 0;
}

std::uint32_t applyRelocations(WritableImageBytes& image, const PeHeaders& headers,
                               std::uint64_t delta) {
    const pe::DataDirectory& directory = headers.directory(pe::directoryBaseRelocation);
    if (directory.Size == 0)
        return 0;
    if (!image.contains(directory.VirtualAddress, directory.Size))
        return errorBadExeFormat;
    // The walk ends at a block whose address is 0 or at the end of the
    // directory, and every block must advance by at least its own header.
    const std::uint64_t end = std::uint64_t{directory.VirtualAddress} + directory.Size;
    std::uint64_t at = directory.VirtualAddress;
    pe::BaseRelocationBlock block{};
    while (at + sizeof(block) <= end && image.read(at, block) && block.VirtualAddress != 0) {
        if (block.SizeOfBlock < sizeof(block) || block.SizeOfBlock > end - at)
            return errorBadExeFormat;
        const std::uint32_t count = (block.SizeOfBlock - sizeof(block)) / 2;
        for (std::uint32_t i = 0; i < count; ++i) {
            std::uint16_t entry = 0;
            image.read(at + sizeof(block) + 2 * i, entry);
            const std::uint64_t target = std::uint64_t{block.VirtualAddress} + (entry & 0xFFF);
            const unsigned type = entry >> 12;
            if (type == pe::relocationHighLow) {
                std::uint32_t value = 0;
                if (!image.read(target, value))
                    return errorBadExeFormat;
                image.write(target,
                            static_cast<std::uint32_t>(value + static_cast<std::uint32_t>(delta)));
            } else if (type == pe::relocationDir64) {
                std::uint64_t value = 0;
                if (!image.read(target, value))
                    return errorBadExeFormat;
                image.write(target, value + delta);
            }
        }
        at += block.SizeOfBlock;
    }
    return 0;
}

std::uint32_t resolveImports(InMemoryLibrary& library, WritableImageBytes& image,
                             const PeHeaders& headers) {
    const pe::DataDirectory& directory = headers.directory(pe::directoryImport);
    if (directory.Size == 0)
        return 0;
    pe::ImportDescriptor descriptor{};
    for (std::uint64_t at = directory.VirtualAddress;
         image.read(at, descriptor) && descriptor.Name != 0; at += sizeof(descriptor)) {
        const char* moduleName = image.stringAt(descriptor.Name);
        if (!moduleName)
            return errorBadExeFormat;
        InMemoryDependency dependency = library.loadDependency(moduleName, library.userData);
        if (!dependency)
            return errorModNotFound;
        auto* grown = static_cast<InMemoryDependency*>(std::realloc(
            library.dependencies,
            sizeof(InMemoryDependency) * (static_cast<std::size_t>(library.dependencyCount) + 1)));
        if (!grown) {
            library.releaseDependency(dependency, library.userData);
            return errorOutOfMemory;
        }
        library.dependencies = grown;
        library.dependencies[library.dependencyCount++] = dependency;

        const std::uint64_t lookup =
            descriptor.OriginalFirstThunk ? descriptor.OriginalFirstThunk : descriptor.FirstThunk;
        for (std::uint64_t i = 0;; ++i) {
            std::uint64_t entry = 0;
            if (!image.read(lookup + 8 * i, entry))
                return errorBadExeFormat;
            if (entry == 0)
                break;
            const char* symbol = nullptr;
            if (entry & pe::importByOrdinalFlag) {
                symbol = reinterpret_cast<const char*>(static_cast<std::uintptr_t>(entry & 0xFFFF));
            } else {
                symbol = image.stringAt(entry + 2); // after the 16-bit hint
                if (!symbol)
                    return errorBadExeFormat;
            }
            void* address = library.resolveSymbol(dependency, symbol, library.userData);
            if (!address)
                return errorProcNotFound;
            if (!image.write(descriptor.FirstThunk + 8 * i,
                             static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(address))))
                return errorBadExeFormat;
        }
    }
    return 0;
}

void readExports(InMemoryLibrary& library, const ImageBytes& image, const PeHeaders& headers) {
    const pe::DataDirectory& directory = headers.directory(pe::directoryExport);
    pe::ExportDirectory exports{};
    if (directory.Size == 0 || !image.read(directory.VirtualAddress, exports))
        return;
    if (exports.NumberOfNames == 0 || exports.NumberOfFunctions == 0)
        return;
    // Tables that do not lie in the image leave the library without exports.
    if (!image.contains(exports.AddressOfFunctions, std::uint64_t{exports.NumberOfFunctions} * 4) ||
        !image.contains(exports.AddressOfNames, std::uint64_t{exports.NumberOfNames} * 4) ||
        !image.contains(exports.AddressOfNameOrdinals, std::uint64_t{exports.NumberOfNames} * 2))
        return;
    library.exportDirectoryStart = directory.VirtualAddress;
    library.exportDirectoryEnd = directory.VirtualAddress + directory.Size;
    library.exportFunctions.resize(exports.NumberOfFunctions);
    for (std::uint32_t i = 0; i < exports.NumberOfFunctions; ++i)
        image.read(exports.AddressOfFunctions + std::uint64_t{i} * 4, library.exportFunctions[i]);
    library.exportNames.reserve(exports.NumberOfNames);
    for (std::uint32_t i = 0; i < exports.NumberOfNames; ++i) {
        std::uint32_t nameOffset = 0;
        std::uint16_t functionIndex = 0;
        image.read(exports.AddressOfNames + std::uint64_t{i} * 4, nameOffset);
        image.read(exports.AddressOfNameOrdinals + std::uint64_t{i} * 2, functionIndex);
        const char* name = image.stringAt(nameOffset);
        if (!name)
            break; // the names from here on cannot be read
        library.exportNames.push_back({name, functionIndex});
    }
}

bool isImageCode(const ImageBytes& image, const PeHeaders& headers,
                 const std::vector<MappedSection>& sections, std::uint64_t offset) {
    for (const MappedSection& section : sections) {
        if (!(section.characteristics & pe::sectionExecute) ||
            (section.characteristics & pe::sectionDiscardable))
            continue;
        const auto start = static_cast<std::uint64_t>(section.address - image.at(0));
        if (offset >= start && offset - start < protectedSize(section, headers))
            return true;
    }
    return false;
}

bool keptSectionHolds(const ImageBytes& image, const PeHeaders& headers,
                      const std::vector<MappedSection>& sections, std::uint64_t offset,
                      std::uint64_t size) {
    for (const MappedSection& section : sections) {
        if (section.characteristics & pe::sectionDiscardable)
            continue;
        const auto start = static_cast<std::uint64_t>(section.address - image.at(0));
        const std::uint64_t length = protectedSize(section, headers);
        if (offset >= start && offset - start <= length && size <= length - (offset - start))
            return image.contains(offset, size);
    }
    return false;
}

std::uint32_t collectTlsCallbacks(const ImageBytes& image, const PeHeaders& headers,
                                  const std::vector<MappedSection>& sections,
                                  std::vector<void*>& callbacks) {
    const pe::DataDirectory& directory = headers.directory(pe::directoryTls);
    if (directory.VirtualAddress == 0)
        return 0;
    pe::TlsDirectory64 tls{};
    if (!image.read(directory.VirtualAddress, tls))
        return errorBadExeFormat;
    if (tls.AddressOfCallBacks == 0)
        return 0;
    // An absolute address, relocated with the image: it must point into it.
    const auto base = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(image.at(0)));
    for (std::uint64_t at = tls.AddressOfCallBacks - base;; at += 8) {
        std::uint64_t callback = 0;
        if (!image.read(at, callback))
            return errorBadExeFormat;
        if (callback == 0)
            return 0;
        if (!isImageCode(image, headers, sections, callback - base))
            return errorBadExeFormat;
        callbacks.push_back(reinterpret_cast<void*>(static_cast<std::uintptr_t>(callback)));
    }
}

void protectSections(const ImageBytes& image, const PeHeaders& headers,
                     const std::vector<MappedSection>& sections) {
    const unsigned char* imageEnd = image.at(0) + image.size();
    const bool wholePageSections = headers.optional.SectionAlignment >= memoryPageSize();
    for (const MappedSection& section : sections) {
        const auto room = static_cast<std::uint64_t>(imageEnd - section.address);
        if (section.characteristics & pe::sectionDiscardable) {
            // Only sections that own their pages: a smaller alignment lets a
            // neighbour share the page.
            if (wholePageSections)
                decommitPages(section.address, section.rawSize < room ? section.rawSize : room);
            continue;
        }
        std::uint64_t size = protectedSize(section, headers);
        if (size > room)
            size = room; // never beyond the image block
        if (size != 0)
            protectPages(section.address, size, protectionOf(section.characteristics));
    }
}

void runTlsCallbacks(unsigned char* codeBase, const std::vector<void*>& callbacks,
                     std::uint32_t reason) {
    for (void* callback : callbacks)
        reinterpret_cast<ImageTlsCallback*>(callback)(codeBase, reason, nullptr);
}
