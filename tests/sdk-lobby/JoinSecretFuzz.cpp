// Any text given as an invitation: parsed, and when it parses, written back
// to the very same text.
#include "sdk/lobby/JoinSecret.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto secret = sdk::lobby::parseJoinSecret(text)) {
        if (sdk::lobby::formatJoinSecret(*secret) != text)
            std::abort();
    }
    return 0;
}
