// Any text given as an invitation: parsed, and when it parses, written back
// to the very same text. The same bytes also make a secret's record, whose
// text must parse back to it: the check value keeps random text from getting
// far, so the writing side is fuzzed directly.
#include "sdk/lobby/JoinSecret.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sdk::lobby;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto secret = parseJoinSecret(text)) {
        if (formatJoinSecret(*secret) != text)
            std::abort();
    }

    if (size < 8 + 16 + 32 + 6)
        return 0;
    JoinSecret made;
    std::memcpy(&made.lobbyId, data, 8);
    std::memcpy(made.lobbyKey.data(), data + 8, 16);
    std::memcpy(made.hostKey.data(), data + 24, 32);
    for (std::size_t at = 56; at + 6 <= size; at += 6) {
        sdk::transport::Endpoint endpoint;
        std::memcpy(&endpoint.address, data + at, 4);
        std::memcpy(&endpoint.port, data + at + 4, 2);
        made.endpoints.push_back(endpoint);
    }
    const std::string written = formatJoinSecret(made);
    if (written.size() > maxJoinSecretLength)
        std::abort();
    if (made.endpoints.size() > maxSecretEndpoints)
        made.endpoints.resize(maxSecretEndpoints); // only the first ones are written
    bool valid = made.lobbyId > 0;
    for (const auto& endpoint : made.endpoints)
        valid = valid && endpoint.address != 0 && endpoint.port != 0;
    const auto parsed = parseJoinSecret(written);
    if (valid != parsed.has_value() || (parsed && !(*parsed == made)))
        std::abort();
    return 0;
}
