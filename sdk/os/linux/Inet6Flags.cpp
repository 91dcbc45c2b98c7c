#include "sdk/os/linux/Inet6Flags.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <sstream>

namespace sdk::os {

namespace {
bool isHex(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](unsigned char c) { return std::isxdigit(c) != 0; });
}

// Nothing for text that is not a hex number of 32 bits.
bool readHex(const std::string& text, unsigned& value) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, 16);
    return error == std::errc() && stop == end;
}
} // namespace

std::vector<std::string> ipv6AddressesFlagged(std::istream& list, unsigned mask) {
    std::vector<std::string> flagged;
    std::string line;
    while (std::getline(list, line)) {
        std::istringstream fields(line);
        std::string address, index, prefix, scope, flagsText, name;
        unsigned flags = 0;
        if (!(fields >> address >> index >> prefix >> scope >> flagsText >> name) ||
            address.size() != 32 || !isHex(address) || !readHex(flagsText, flags))
            continue;
        if (flags & mask)
            flagged.push_back(address);
    }
    return flagged;
}

} // namespace sdk::os
