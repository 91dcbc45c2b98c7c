#include "resources/PeUnwind.h"

#include "platform/LastError.h"

namespace {

// Chains longer than this are refused: a loop would never end.
constexpr int maxChainDepth = 32;

struct UnwindCheck {
    const ImageBytes& image;
    const PeHeaders& headers;
    const std::vector<MappedSection>& sections;

    bool codeRange(std::uint32_t begin, std::uint32_t end) const {
        return begin < end && isImageCode(image, headers, sections, begin) &&
               isImageCode(image, headers, sections, end - 1);
    }

    bool entry(const pe::RuntimeFunction& function, int depth) const {
        return codeRange(function.BeginAddress, function.EndAddress) &&
               unwindInfo(function.UnwindData, depth);
    }

    // The unwind information at offset, with its codes and what follows them,
    // all in one kept section.
    bool unwindInfo(std::uint32_t offset, int depth) const {
        pe::UnwindInfoHeader info{};
        if (offset % 4 != 0 || !image.read(offset, info))
            return false;
        const unsigned version = info.VersionAndFlags & 0x7;
        const unsigned flags = info.VersionAndFlags >> 3;
        if (version != 1 && version != 2)
            return false;
        const std::uint64_t codes = (std::uint64_t{info.CountOfCodes} + 1) & ~std::uint64_t{1};
        const std::uint64_t after = offset + sizeof(info) + 2 * codes;
        const bool chained = flags & pe::unwindFlagChainInfo;
        const bool handled =
            flags & (pe::unwindFlagExceptionHandler | pe::unwindFlagTerminationHandler);
        const std::uint64_t trailer =
            chained ? sizeof(pe::RuntimeFunction) : (handled ? sizeof(std::uint32_t) : 0);
        if (!keptSectionHolds(image, headers, sections, offset, after - offset + trailer))
            return false;
        if (chained) {
            pe::RuntimeFunction next{};
            image.read(after, next);
            return depth < maxChainDepth && entry(next, depth + 1);
        }
        if (handled) {
            std::uint32_t handler = 0;
            image.read(after, handler);
            return isImageCode(image, headers, sections, handler);
        }
        return true;
    }
};

} // namespace

std::uint32_t checkUnwindTable(const ImageBytes& image, const PeHeaders& headers,
                               const std::vector<MappedSection>& sections,
                               UnwindTableRange& table) {
    const pe::DataDirectory& directory = headers.directory(pe::directoryException);
    table = {};
    if (directory.Size == 0)
        return 0;
    if (directory.Size % sizeof(pe::RuntimeFunction) != 0 || directory.VirtualAddress % 4 != 0 ||
        !keptSectionHolds(image, headers, sections, directory.VirtualAddress, directory.Size))
        return errorBadExeFormat;
    // The system looks functions up by binary search: entries must be sorted
    // and must not overlap.
    const UnwindCheck check{image, headers, sections};
    const std::uint32_t count = directory.Size / sizeof(pe::RuntimeFunction);
    std::uint32_t previousEnd = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        pe::RuntimeFunction function{};
        image.read(directory.VirtualAddress + std::uint64_t{i} * sizeof(function), function);
        if (function.BeginAddress < previousEnd || !check.entry(function, 0))
            return errorBadExeFormat;
        previousEnd = function.EndAddress;
    }
    table = {directory.VirtualAddress, count};
    return 0;
}
