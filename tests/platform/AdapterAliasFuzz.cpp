// Interface aliases are outside input: any administrator can set one.

#include "platform/linux/AdapterAlias.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view alias(reinterpret_cast<const char*>(data), size);
    if (auto identity = decodeAdapterAlias(alias)) {
        // What decodes is exactly what encoding those names gives.
        auto again = encodeAdapterAlias(*identity);
        if (!again || *again != alias)
            std::abort();
    }
    if (auto wide = utf16FromUtf8(alias)) {
        auto narrow = utf8FromUtf16(*wide);
        if (!narrow || *narrow != alias)
            std::abort();
    }
    return 0;
}
