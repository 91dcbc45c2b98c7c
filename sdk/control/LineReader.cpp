#include "sdk/control/LineReader.h"

void LineReader::append(std::string_view bytes) {
    if (!tooLong)
        pending += bytes;
}

std::optional<std::string> LineReader::next() {
    if (tooLong)
        return std::nullopt;
    const auto end = pending.find('\n', scanned);
    if (end == std::string::npos) {
        scanned = pending.size();
        if (pending.size() > maxBytes) {
            tooLong = true;
            pending.clear();
        }
        return std::nullopt;
    }
    std::string line = pending.substr(0, end);
    pending.erase(0, end + 1);
    scanned = 0;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.size() > maxBytes) {
        tooLong = true;
        pending.clear();
        return std::nullopt;
    }
    return line;
}
