#include "sdk/client/MemberRows.h"

std::string memberRow(const MemberMessage& member) {
    std::string row = member.name;
    row += '\t';
    row += pathWord(member.path);
    row += '\t';
    row += member.endpoint.empty() ? "-" : member.endpoint;
    row += '\t';
    if (member.roundTripMicros) {
        const std::int64_t micros = *member.roundTripMicros;
        std::string fraction = std::to_string(micros % 1000);
        fraction.insert(0, 3 - fraction.size(), '0');
        row += std::to_string(micros / 1000) + "." + fraction + " ms";
    } else {
        row += "-";
    }
    return row;
}

std::string memberRows(const std::vector<MemberMessage>& members) {
    if (members.empty())
        return "no lobby\n";
    std::string rows;
    for (const auto& member : members)
        rows += memberRow(member) + "\n";
    return rows;
}
