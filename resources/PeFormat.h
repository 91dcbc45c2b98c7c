#pragma once

// The parts of the PE/COFF format (PE32+) that the in-memory loader reads.
// Field names follow the published format. Every structure is read and
// written with memcpy through ImageBytes, so misaligned fields in a damaged
// image are no fault.

#include <cstdint>

namespace pe {

// NOLINTBEGIN(readability-identifier-naming): the format's own field names.

constexpr std::uint16_t dosSignature = 0x5A4D;    // "MZ"
constexpr std::uint32_t ntSignature = 0x00004550; // "PE\0\0"
constexpr std::uint16_t machineAmd64 = 0x8664;
constexpr std::uint16_t optionalHeaderMagic64 = 0x20B;
constexpr std::uint32_t dosLfanewOffset = 0x3C;

constexpr std::uint32_t directoryExport = 0;
constexpr std::uint32_t directoryImport = 1;
constexpr std::uint32_t directoryException = 3;
constexpr std::uint32_t directoryBaseRelocation = 5;
constexpr std::uint32_t directoryTls = 9;
constexpr std::uint32_t directoryCount = 16;

constexpr std::uint32_t sectionCodeInitializedData = 0x00000040;
constexpr std::uint32_t sectionCodeUninitializedData = 0x00000080;
constexpr std::uint32_t sectionDiscardable = 0x02000000;
constexpr std::uint32_t sectionNotCached = 0x04000000;
constexpr std::uint32_t sectionExecute = 0x20000000;
constexpr std::uint32_t sectionRead = 0x40000000;
constexpr std::uint32_t sectionWrite = 0x80000000;

constexpr std::uint16_t relocationHighLow = 3;
constexpr std::uint16_t relocationDir64 = 10;

constexpr std::uint64_t importByOrdinalFlag = 0x8000000000000000ull;

constexpr std::uint32_t dllProcessDetach = 0;
constexpr std::uint32_t dllProcessAttach = 1;

struct FileHeader {
    std::uint16_t Machine;
    std::uint16_t NumberOfSections;
    std::uint32_t TimeDateStamp;
    std::uint32_t PointerToSymbolTable;
    std::uint32_t NumberOfSymbols;
    std::uint16_t SizeOfOptionalHeader;
    std::uint16_t Characteristics;
};
static_assert(sizeof(FileHeader) == 20);

struct DataDirectory {
    std::uint32_t VirtualAddress;
    std::uint32_t Size;
};

// The fixed part of the PE32+ optional header; the data directories follow.
struct OptionalHeader64 {
    std::uint16_t Magic;
    std::uint8_t MajorLinkerVersion;
    std::uint8_t MinorLinkerVersion;
    std::uint32_t SizeOfCode;
    std::uint32_t SizeOfInitializedData;
    std::uint32_t SizeOfUninitializedData;
    std::uint32_t AddressOfEntryPoint;
    std::uint32_t BaseOfCode;
    std::uint64_t ImageBase;
    std::uint32_t SectionAlignment;
    std::uint32_t FileAlignment;
    std::uint16_t MajorOperatingSystemVersion;
    std::uint16_t MinorOperatingSystemVersion;
    std::uint16_t MajorImageVersion;
    std::uint16_t MinorImageVersion;
    std::uint16_t MajorSubsystemVersion;
    std::uint16_t MinorSubsystemVersion;
    std::uint32_t Win32VersionValue;
    std::uint32_t SizeOfImage;
    std::uint32_t SizeOfHeaders;
    std::uint32_t CheckSum;
    std::uint16_t Subsystem;
    std::uint16_t DllCharacteristics;
    std::uint64_t SizeOfStackReserve;
    std::uint64_t SizeOfStackCommit;
    std::uint64_t SizeOfHeapReserve;
    std::uint64_t SizeOfHeapCommit;
    std::uint32_t LoaderFlags;
    std::uint32_t NumberOfRvaAndSizes;
};
static_assert(sizeof(OptionalHeader64) == 112);

// Offsets inside the NT headers (signature, file header, optional header).
constexpr std::uint32_t fileHeaderOffset = 4;
constexpr std::uint32_t optionalHeaderOffset = fileHeaderOffset + sizeof(FileHeader);
constexpr std::uint32_t imageBaseOffset = optionalHeaderOffset + 24;
constexpr std::uint32_t dataDirectoriesOffset = optionalHeaderOffset + sizeof(OptionalHeader64);

struct SectionHeader {
    std::uint8_t Name[8];
    std::uint32_t Misc; // VirtualSize in the file; the committed address's low half once mapped
    std::uint32_t VirtualAddress;
    std::uint32_t SizeOfRawData;
    std::uint32_t PointerToRawData;
    std::uint32_t PointerToRelocations;
    std::uint32_t PointerToLinenumbers;
    std::uint16_t NumberOfRelocations;
    std::uint16_t NumberOfLinenumbers;
    std::uint32_t Characteristics;
};
static_assert(sizeof(SectionHeader) == 40);
constexpr std::uint32_t sectionMiscOffset = 8;

struct BaseRelocationBlock {
    std::uint32_t VirtualAddress;
    std::uint32_t SizeOfBlock;
};
static_assert(sizeof(BaseRelocationBlock) == 8);

struct ImportDescriptor {
    std::uint32_t OriginalFirstThunk;
    std::uint32_t TimeDateStamp;
    std::uint32_t ForwarderChain;
    std::uint32_t Name;
    std::uint32_t FirstThunk;
};
static_assert(sizeof(ImportDescriptor) == 20);

struct ExportDirectory {
    std::uint32_t Characteristics;
    std::uint32_t TimeDateStamp;
    std::uint16_t MajorVersion;
    std::uint16_t MinorVersion;
    std::uint32_t Name;
    std::uint32_t Base;
    std::uint32_t NumberOfFunctions;
    std::uint32_t NumberOfNames;
    std::uint32_t AddressOfFunctions;
    std::uint32_t AddressOfNames;
    std::uint32_t AddressOfNameOrdinals;
};
static_assert(sizeof(ExportDirectory) == 40);

struct TlsDirectory64 {
    std::uint64_t StartAddressOfRawData;
    std::uint64_t EndAddressOfRawData;
    std::uint64_t AddressOfIndex;
    std::uint64_t AddressOfCallBacks;
    std::uint32_t SizeOfZeroFill;
    std::uint32_t Characteristics;
};
static_assert(sizeof(TlsDirectory64) == 40);

// One entry of the exception directory (x64): a function's code range and
// its unwind information.
struct RuntimeFunction {
    std::uint32_t BeginAddress;
    std::uint32_t EndAddress;
    std::uint32_t UnwindData;
};
static_assert(sizeof(RuntimeFunction) == 12);

// The fixed start of a function's unwind information; the unwind codes follow
// (two bytes each, their count rounded up to even), then a handler's address
// or a chained RuntimeFunction as the flags say.
struct UnwindInfoHeader {
    std::uint8_t VersionAndFlags; // version in the low 3 bits
    std::uint8_t SizeOfProlog;
    std::uint8_t CountOfCodes;
    std::uint8_t FrameRegisterAndOffset;
};
static_assert(sizeof(UnwindInfoHeader) == 4);
constexpr std::uint8_t unwindFlagExceptionHandler = 0x1;
constexpr std::uint8_t unwindFlagTerminationHandler = 0x2;
constexpr std::uint8_t unwindFlagChainInfo = 0x4;

// NOLINTEND(readability-identifier-naming)

} // namespace pe
