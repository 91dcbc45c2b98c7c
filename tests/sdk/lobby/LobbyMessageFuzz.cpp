// Every lobby message a host or a member decodes: what decodes encodes back
// to the same bytes.
#include "sdk/lobby/LobbyMessages.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    if (const auto message = sdk::lobby::decodeLobbyMessage(bytes)) {
        const auto again = sdk::lobby::encodeLobbyMessage(*message);
        if (again.size() != size || !std::equal(again.begin(), again.end(), data))
            std::abort();
    }
    return 0;
}
