#include "resources/PeHeaders.h"

#include "platform/LastError.h"

namespace {

// The range of image memory a section fills when it is copied.
std::uint64_t committedSize(const pe::SectionHeader& section, const PeHeaders& headers) {
    if (section.SizeOfRawData == 0)
        return headers.optional.SectionAlignment;
    return section.SizeOfRawData;
}

bool sectionFits(const pe::SectionHeader& section, const PeHeaders& headers,
                 const ImageBytes& source) {
    const std::uint64_t imageSize = headers.optional.SizeOfImage;
    const std::uint64_t end =
        std::uint64_t{section.VirtualAddress} + committedSize(section, headers);
    if (end > imageSize)
        return false;
    return section.SizeOfRawData == 0 ||
           source.contains(section.PointerToRawData, section.SizeOfRawData);
}

} // namespace

std::uint32_t readPeHeaders(const ImageBytes& source, std::size_t maxImageSize,
                            PeHeaders& headers) {
    std::uint16_t dosMagic = 0;
    if (!source.read(0, dosMagic) || dosMagic != pe::dosSignature)
        return errorBadExeFormat;
    std::int32_t lfanew = 0;
    if (!source.read(pe::dosLfanewOffset, lfanew) || lfanew < 0)
        return errorBadExeFormat;
    headers.ntOffset = static_cast<std::uint32_t>(lfanew);

    std::uint32_t signature = 0;
    if (!source.read(headers.ntOffset, signature) || signature != pe::ntSignature)
        return errorBadExeFormat;
    if (!source.read(headers.ntOffset + pe::fileHeaderOffset, headers.file) ||
        !source.read(headers.ntOffset + pe::optionalHeaderOffset, headers.optional))
        return errorBadExeFormat;

    // Only 64-bit x64 images: their fields are read at the PE32+ positions
    // and their code is run as x64 code.
    const auto& optional = headers.optional;
    if (headers.file.Machine != pe::machineAmd64 || optional.Magic != pe::optionalHeaderMagic64)
        return errorBadExeFormat;

    const std::uint32_t directoryCount = optional.NumberOfRvaAndSizes < pe::directoryCount
                                             ? optional.NumberOfRvaAndSizes
                                             : pe::directoryCount;
    if (headers.file.SizeOfOptionalHeader <
        sizeof(pe::OptionalHeader64) + directoryCount * sizeof(pe::DataDirectory))
        return errorBadExeFormat;
    for (std::uint32_t i = 0; i < directoryCount; ++i) {
        const std::uint64_t at = std::uint64_t{headers.ntOffset} + pe::dataDirectoriesOffset +
                                 i * sizeof(pe::DataDirectory);
        if (!source.read(at, headers.directories[i]))
            return errorBadExeFormat;
    }

    if (optional.SizeOfImage == 0 || optional.SizeOfHeaders > optional.SizeOfImage ||
        !source.contains(0, optional.SizeOfHeaders))
        return errorBadExeFormat;
    if (optional.SizeOfImage > maxImageSize)
        return errorOutOfMemory;
    if (optional.AddressOfEntryPoint >= optional.SizeOfImage)
        return errorBadExeFormat;

    // The section table is part of the headers that are copied into the image.
    headers.sectionTableOffset = std::uint64_t{headers.ntOffset} + pe::optionalHeaderOffset +
                                 headers.file.SizeOfOptionalHeader;
    const std::uint64_t tableEnd =
        headers.sectionTableOffset +
        std::uint64_t{headers.file.NumberOfSections} * sizeof(pe::SectionHeader);
    if (tableEnd > optional.SizeOfHeaders)
        return errorBadExeFormat;
    for (std::uint32_t i = 0; i < headers.file.NumberOfSections; ++i)
        if (!sectionFits(sectionHeader(source, headers, i), headers, source))
            return errorBadExeFormat;
    return 0;
}

pe::SectionHeader sectionHeader(const ImageBytes& source, const PeHeaders& headers,
                                std::uint32_t index) {
    pe::SectionHeader section{};
    source.read(headers.sectionTableOffset + std::uint64_t{index} * sizeof(pe::SectionHeader),
                section);
    return section;
}
