#include "resources/ElfExports.h"

#include "platform/LastError.h"
#include "resources/ImageBytes.h"

#include <algorithm>

namespace {

// Positions of the ELF64 fields read here.
constexpr std::uint64_t identClass = 4;
constexpr std::uint64_t identData = 5;
constexpr std::uint64_t typeOffset = 16;
constexpr std::uint64_t machineOffset = 18;
constexpr std::uint64_t sectionTableOffset = 40;
constexpr std::uint64_t sectionEntrySizeOffset = 58;
constexpr std::uint64_t sectionCountOffset = 60;
constexpr std::uint64_t elfHeaderSize = 64;

constexpr std::uint8_t class64 = 2;
constexpr std::uint8_t littleEndian = 1;
constexpr std::uint16_t typeSharedObject = 3;
constexpr std::uint16_t machineX86_64 = 62;
constexpr std::uint32_t sectionNoBits = 8;
constexpr std::uint32_t sectionDynamicSymbols = 11;

struct SectionHeader {
    std::uint32_t name;
    std::uint32_t type;
    std::uint64_t flags;
    std::uint64_t address;
    std::uint64_t offset;
    std::uint64_t size;
    std::uint32_t link;
    std::uint32_t info;
    std::uint64_t alignment;
    std::uint64_t entrySize;
};
static_assert(sizeof(SectionHeader) == 64);

struct Symbol {
    std::uint32_t name;
    std::uint8_t info;
    std::uint8_t other;
    std::uint16_t sectionIndex;
    std::uint64_t value;
    std::uint64_t size;
};
static_assert(sizeof(Symbol) == 24);

bool isExported(const Symbol& symbol) {
    const unsigned binding = symbol.info >> 4;    // global 1, weak 2, unique 10
    const unsigned type = symbol.info & 0xF;      // object 1, function 2, indirect 10
    const unsigned visibility = symbol.other & 3; // default 0, protected 3
    return symbol.sectionIndex != 0 && (binding == 1 || binding == 2 || binding == 10) &&
           (type == 1 || type == 2 || type == 10) && (visibility == 0 || visibility == 3);
}

} // namespace

bool isElfImage(const unsigned char* data, std::size_t size) {
    return size >= 4 && data[0] == 0x7F && data[1] == 'E' && data[2] == 'L' && data[3] == 'F';
}

std::uint32_t readElfSharedObject(const unsigned char* data, std::size_t size,
                                  ElfSharedObject& object) {
    const ImageBytes file(data, size);
    std::uint8_t elfClass = 0;
    std::uint8_t byteOrder = 0;
    std::uint16_t type = 0;
    std::uint16_t machine = 0;
    std::uint64_t tableOffset = 0;
    std::uint16_t entrySize = 0;
    std::uint16_t sectionCount = 0;
    if (!isElfImage(data, size) || !file.contains(0, elfHeaderSize))
        return errorBadExeFormat;
    file.read(identClass, elfClass);
    file.read(identData, byteOrder);
    file.read(typeOffset, type);
    file.read(machineOffset, machine);
    file.read(sectionTableOffset, tableOffset);
    file.read(sectionEntrySizeOffset, entrySize);
    file.read(sectionCountOffset, sectionCount);
    if (elfClass != class64 || byteOrder != littleEndian || type != typeSharedObject ||
        machine != machineX86_64 || entrySize != sizeof(SectionHeader))
        return errorBadExeFormat;
    if (!file.contains(tableOffset, std::uint64_t{sectionCount} * sizeof(SectionHeader)))
        return errorBadExeFormat;

    auto section = [&](std::uint32_t index) {
        SectionHeader header{};
        file.read(tableOffset + std::uint64_t{index} * sizeof(SectionHeader), header);
        return header;
    };
    std::uint64_t end =
        std::max<std::uint64_t>(elfHeaderSize, tableOffset + sectionCount * sizeof(SectionHeader));
    for (std::uint32_t i = 0; i < sectionCount; ++i) {
        const SectionHeader header = section(i);
        if (header.type == sectionNoBits)
            continue;
        if (!file.contains(header.offset, header.size))
            return errorBadExeFormat;
        end = std::max(end, header.offset + header.size);
    }
    object.fileSize = size == unknownImageSize ? static_cast<std::size_t>(end) : size;

    for (std::uint32_t i = 0; i < sectionCount; ++i) {
        const SectionHeader symbols = section(i);
        if (symbols.type != sectionDynamicSymbols)
            continue;
        if (symbols.link >= sectionCount)
            return errorBadExeFormat;
        const SectionHeader strings = section(symbols.link);
        if (strings.type == sectionNoBits || !file.contains(strings.offset, strings.size))
            return errorBadExeFormat;
        const ImageBytes names(data + strings.offset, strings.size);
        for (std::uint64_t at = 0; at + sizeof(Symbol) <= symbols.size; at += sizeof(Symbol)) {
            Symbol symbol{};
            file.read(symbols.offset + at, symbol);
            if (!isExported(symbol))
                continue;
            const char* name = names.stringAt(symbol.name);
            if (name && *name)
                object.exportNames.emplace_back(name);
        }
        break;
    }
    return 0;
}
