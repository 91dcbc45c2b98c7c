#include "sdk/lobby/UserName.h"

#include <optional>

namespace sdk::lobby {

namespace {
struct Character {
    char32_t value = 0;
    std::size_t size = 0;
};

// The well-formed character at the start of text: no overlong forms, no
// surrogates, nothing above U+10FFFF.
std::optional<Character> firstCharacter(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return Character{lead, 1};
    std::size_t size = 0;
    char32_t value = 0;
    char32_t least = 0;
    if (lead >= 0xc2 && lead <= 0xdf) {
        size = 2;
        value = lead & 0x1fU;
        least = 0x80;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        size = 3;
        value = lead & 0x0fU;
        least = 0x800;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        size = 4;
        value = lead & 0x07U;
        least = 0x10000;
    } else {
        return std::nullopt;
    }
    if (text.size() < size)
        return std::nullopt;
    for (std::size_t i = 1; i < size; ++i) {
        if ((byte(i) & 0xc0U) != 0x80)
            return std::nullopt;
        value = (value << 6) | (byte(i) & 0x3fU);
    }
    if (value < least || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff))
        return std::nullopt;
    return Character{value, size};
}

bool isControl(char32_t value) {
    return value < 0x20 || (value >= 0x7f && value <= 0x9f);
}

struct Range {
    char32_t first;
    char32_t last;
};

// Characters that show nothing or move what follows: every format character
// (bidi controls and isolates, zero-width joiners and spaces, the byte-order
// mark, tags) and every separator but the plain space (line and paragraph
// separators, no-break and other wide or narrow spaces). With them one name
// could be drawn as another's.
constexpr Range invisible[] = {
    {0x00a0, 0x00a0},   {0x00ad, 0x00ad},   {0x0600, 0x0605},   {0x061c, 0x061c},
    {0x06dd, 0x06dd},   {0x070f, 0x070f},   {0x0890, 0x0891},   {0x08e2, 0x08e2},
    {0x1680, 0x1680},   {0x180e, 0x180e},   {0x2000, 0x200f},   {0x2028, 0x202f},
    {0x205f, 0x2064},   {0x2066, 0x206f},   {0x3000, 0x3000},   {0xfeff, 0xfeff},
    {0xfff9, 0xfffb},   {0x110bd, 0x110bd}, {0x110cd, 0x110cd}, {0x13430, 0x1343f},
    {0x1bca0, 0x1bca3}, {0x1d173, 0x1d17a}, {0xe0001, 0xe0001}, {0xe0020, 0xe007f},
};

bool isRefused(char32_t value) {
    if (isControl(value))
        return true;
    for (const auto& range : invisible)
        if (value >= range.first && value <= range.last)
            return true;
    return false;
}
} // namespace

bool validUserName(std::string_view name) {
    if (name.empty() || name.size() > maxUserNameBytes)
        return false;
    while (!name.empty()) {
        const auto character = firstCharacter(name);
        if (!character || isRefused(character->value))
            return false;
        name.remove_prefix(character->size);
    }
    return true;
}

std::string cleanUserName(std::string_view name, std::int64_t userId) {
    std::string clean;
    while (!name.empty()) {
        const auto character = firstCharacter(name);
        if (!character) {
            name.remove_prefix(1);
            continue;
        }
        if (!isRefused(character->value)) {
            if (clean.size() + character->size > maxUserNameBytes)
                break;
            clean.append(name.substr(0, character->size));
        }
        name.remove_prefix(character->size);
    }
    if (clean.empty())
        return "user " + std::to_string(userId);
    return clean;
}

} // namespace sdk::lobby
