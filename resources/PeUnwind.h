#pragma once

// The image's exception directory: the function table through which the
// system's exception dispatcher unwinds the image's code. It is checked
// before it is handed to the system, which reads it whenever an exception
// passes through the image.

#include "resources/ImageBytes.h"
#include "resources/PeHeaders.h"
#include "resources/PeSteps.h"

#include <cstdint>
#include <vector>

struct UnwindTableRange {
    std::uint32_t offset = 0; // of the first entry, from the image base
    std::uint32_t count = 0;  // 0 when the image has no exception directory
};

// Checks the exception directory of a mapped image: an array of whole,
// aligned entries inside a kept section, sorted, each covering image code
// and pointing at unwind information that lies in a kept section, with its
// handler in image code and its chain (if any) checked the same way.
// 0 on success, else errorBadExeFormat.
std::uint32_t checkUnwindTable(const ImageBytes& image, const PeHeaders& headers,
                               const std::vector<MappedSection>& sections, UnwindTableRange& table);
