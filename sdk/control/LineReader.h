#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Cuts a byte stream into lines of at most maxBytes (without "\n"). A longer
// line poisons the stream: nothing after it can be trusted to be framed right,
// so the reader gives no more lines and the connection should end.
class LineReader {
public:
    explicit LineReader(std::size_t maxBytes) : maxBytes(maxBytes) {}

    void append(std::string_view bytes);

    // The next complete line, without "\n" and without one "\r" before it.
    std::optional<std::string> next();

    bool overflowed() const { return tooLong; }

private:
    std::size_t maxBytes;
    std::string pending;
    std::size_t scanned = 0;
    bool tooLong = false;
};
