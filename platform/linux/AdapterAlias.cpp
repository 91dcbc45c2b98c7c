#include "platform/linux/AdapterAlias.h"

namespace {

constexpr std::string_view aliasTag = "wintun";
constexpr char separator = '\t';
constexpr std::size_t maxAliasBytes = 255; // IFALIASZ less the NUL
constexpr std::size_t maxNameUnits = 127;  // 128 wide characters with the NUL

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

} // namespace

std::optional<std::string> utf8FromUtf16(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
                return std::nullopt;
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return std::nullopt;
        }
        appendUtf8(out, c);
    }
    return out;
}

std::optional<std::u16string> utf16FromUtf8(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80           ? 1
                             : (lead >> 5) == 0x6  ? 2
                             : (lead >> 4) == 0xE  ? 3
                             : (lead >> 3) == 0x1E ? 4
                                                   : 0;
        if (length == 0 || i + length > text.size())
            return std::nullopt;
        char32_t c = length == 1   ? lead
                     : length == 2 ? lead & 0x1F
                     : length == 3 ? lead & 0x0F
                                   : lead & 0x07;
        for (std::size_t k = 1; k < length; ++k) {
            auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return std::nullopt;
            c = (c << 6) | (next & 0x3F);
        }
        static constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < smallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return std::nullopt;
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i += length;
    }
    return out;
}

bool isValidAdapterName(std::u16string_view name) {
    if (name.empty() || name.size() > maxNameUnits)
        return false;
    for (char16_t c : name)
        if (c < 0x20 || c == 0x7F)
            return false;
    return utf8FromUtf16(name).has_value();
}

std::optional<std::string> encodeAdapterAlias(const AdapterIdentity& identity) {
    if (!isValidAdapterName(identity.pool) || !isValidAdapterName(identity.name))
        return std::nullopt;
    std::string alias(aliasTag);
    alias += separator;
    alias += *utf8FromUtf16(identity.pool);
    alias += separator;
    alias += *utf8FromUtf16(identity.name);
    if (alias.size() > maxAliasBytes)
        return std::nullopt;
    return alias;
}

std::optional<AdapterIdentity> decodeAdapterAlias(std::string_view alias) {
    // Longer than the kernel keeps: not one of ours, and encoding would refuse it.
    if (alias.size() > maxAliasBytes || alias.size() <= aliasTag.size() ||
        alias.substr(0, aliasTag.size()) != aliasTag || alias[aliasTag.size()] != separator)
        return std::nullopt;
    std::string_view rest = alias.substr(aliasTag.size() + 1);
    std::size_t split = rest.find(separator);
    if (split == std::string_view::npos)
        return std::nullopt;
    auto pool = utf16FromUtf8(rest.substr(0, split));
    auto name = utf16FromUtf8(rest.substr(split + 1));
    if (!pool || !name || !isValidAdapterName(*pool) || !isValidAdapterName(*name))
        return std::nullopt;
    return AdapterIdentity{*pool, *name};
}
