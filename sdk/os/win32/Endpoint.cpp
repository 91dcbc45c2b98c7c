#include "sdk/os/Endpoint.h"

namespace sdk::os {

std::string Endpoint::toString() const {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        text += std::to_string((address >> shift) & 0xff);
        text += shift > 0 ? '.' : ':';
    }
    return text + std::to_string(port);
}

// Four decimal parts of at most three digits, none above 255 and none with a
// leading zero: what inet_pton takes, written out so that Winsock need not be
// started for it.
std::optional<std::uint32_t> parseIpv4Address(const std::string& text) {
    std::uint32_t address = 0;
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at >= text.size() || text[at] != '.')
                return std::nullopt;
            ++at;
        }
        const std::size_t start = at;
        unsigned value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 3)
            value = value * 10 + static_cast<unsigned>(text[at++] - '0');
        const std::size_t digits = at - start;
        if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0'))
            return std::nullopt;
        address = (address << 8) | value;
    }
    if (at != text.size())
        return std::nullopt;
    return address;
}

} // namespace sdk::os
