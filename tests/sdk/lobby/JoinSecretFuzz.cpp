// Any text given as an invitation: parsed, and when it parses, written back
// to the very same text. The same bytes also make a secret's record, whose
// text must parse back to it: the check value keeps random text from getting
// far, so the writing side is fuzzed directly.
#include "sdk/lobby/JoinSecret.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sdk::lobby;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto secret = parseJoinSecret(text)) {
        if (formatJoinSecret(*secret) != text)
            std::abort();
    }

    if (size < 8 + 16 + 32 + 7)
        return 0;
    JoinSecret made;
    std::memcpy(&made.lobbyId, data, 8);
    std::memcpy(made.lobbyKey.data(), data + 8, 16);
    std::memcpy(made.hostKey.data(), data + 24, 32);
    // Each endpoint: a byte whose low bit picks the family, then the address
    // (4 or 16 bytes) and the port.
    for (std::size_t at = 56; at < size;) {
        const bool ipv6 = data[at] & 1;
        const std::size_t length = ipv6 ? 18 : 6;
        if (at + 1 + length > size)
            break;
        std::uint16_t port = 0;
        std::memcpy(&port, data + at + 1 + length - 2, 2);
        if (ipv6) {
            sdk::transport::Endpoint::Bytes address{};
            std::memcpy(address.data(), data + at + 1, 16);
            made.endpoints.push_back(sdk::transport::Endpoint::fromBytes(address, port));
        } else {
            std::uint32_t address = 0;
            std::memcpy(&address, data + at + 1, 4);
            made.endpoints.push_back(sdk::transport::Endpoint{address, port});
        }
        at += 1 + length;
    }
    const std::string written = formatJoinSecret(made);
    if (written.size() > maxJoinSecretLength)
        std::abort();
    // What is written: five IPv4 endpoints, or the first IPv4 and the first
    // IPv6 one.
    std::vector<sdk::transport::Endpoint> ipv4, ipv6;
    for (const auto& endpoint : made.endpoints)
        (endpoint.isIpv4() ? ipv4 : ipv6).push_back(endpoint);
    ipv4.resize(std::min(ipv4.size(), ipv6.empty() ? maxSecretEndpoints : std::size_t{1}));
    ipv6.resize(std::min<std::size_t>(ipv6.size(), 1));
    made.endpoints = ipv4;
    made.endpoints.insert(made.endpoints.end(), ipv6.begin(), ipv6.end());
    bool valid = made.lobbyId > 0 && !made.endpoints.empty();
    for (const auto& endpoint : made.endpoints)
        valid = valid && !endpoint.unspecifiedAddress() && endpoint.port != 0;
    const auto parsed = parseJoinSecret(written);
    if (valid != parsed.has_value() || (parsed && !(*parsed == made)))
        std::abort();
    return 0;
}
