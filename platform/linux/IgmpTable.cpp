#include "platform/linux/IgmpTable.h"

#include <charconv>

namespace {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    return text;
}

} // namespace

// An interface line starts with its index ("2\teth0 : 1 V3"); its groups
// follow on lines that start with a tab, the group first, as the kernel
// prints a network-order word in hexadecimal on this very machine.
std::vector<GroupMembership> parseIgmpTable(std::string_view text) {
    std::vector<GroupMembership> memberships;
    bool haveInterface = false;
    std::uint32_t interfaceIndex = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty())
            continue;
        const bool groupLine = line.front() == '\t' || line.front() == ' ';
        line = trimmed(line);
        std::uint32_t value = 0;
        const int base = groupLine ? 16 : 10;
        const auto [rest, error] =
            std::from_chars(line.data(), line.data() + line.size(), value, base);
        const bool wholeWord = rest == line.data() + line.size() || *rest == ' ' || *rest == '\t';
        if (error != std::errc{} || !wholeWord) {
            if (!groupLine)
                haveInterface = false; // the header, or a line of another form
            continue;
        }
        if (!groupLine) {
            interfaceIndex = value;
            haveInterface = true;
        } else if (haveInterface && rest - line.data() == 8) {
            memberships.push_back({interfaceIndex, value});
        }
    }
    return memberships;
}
