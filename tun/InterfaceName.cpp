#include "tun/InterfaceName.h"

#include <algorithm>

namespace {

constexpr std::size_t maxInterfaceName = 15; // IFNAMSIZ less the NUL

bool keeps(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           c == u'-' || c == u'_' || c == u'.';
}

} // namespace

std::string interfaceNameFor(std::u16string_view adapterName, unsigned attempt) {
    std::string name;
    for (char16_t c : adapterName) {
        if (c >= 0xDC00 && c <= 0xDFFF)
            continue; // the second half of a pair already gave its '-'
        name += keeps(c) ? static_cast<char>(c) : '-';
    }
    if (name.empty() || name == "." || name == "..")
        name = "wintun";
    std::string suffix = attempt == 0 ? "" : "-" + std::to_string(attempt);
    name.resize(std::min(name.size(), maxInterfaceName - suffix.size()));
    return name + suffix;
}
