// The adapter helper's requests come from whoever may start it.

#include "tun/HelperProtocol.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    HelperRequest parsed = parseHelperRequest({data, size});
    // What is taken encodes back to exactly these bytes: nothing was skipped.
    if (const auto* request = std::get_if<HelperInterfaceRequest>(&parsed)) {
        auto again = encodeHelperRequest(*request);
        if (!again || *again != std::vector<std::uint8_t>(data, data + size))
            std::abort();
    }
    if (const auto* creation = std::get_if<HelperCreate>(&parsed)) {
        auto again = encodeHelperCreate(creation->identity);
        if (!again || *again != std::vector<std::uint8_t>(data, data + size))
            std::abort();
    }
    if (auto reply = parseHelperReply({data, size}))
        if (encodeHelperReply(*reply) != std::vector<std::uint8_t>(data, data + size))
            std::abort();
    return 0;
}
