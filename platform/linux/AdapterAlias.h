#pragma once

// Our Wintun library's adapters are TUN interfaces whose alias (IFLA_IFALIAS)
// keeps the exact pool and adapter names, since an interface name can hold
// neither a space nor more than 15 bytes: "wintun", a tab, the pool, a tab,
// the name, in UTF-8. The address layer reads it to find the network that
// bears an adapter's name.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct AdapterIdentity {
    std::u16string pool;
    std::u16string name;

    bool operator==(const AdapterIdentity&) const = default;
};

// UTF-8 of well-formed UTF-16; nullopt for a lone surrogate.
std::optional<std::string> utf8FromUtf16(std::u16string_view text);
// UTF-16 of well-formed UTF-8; nullopt for anything else.
std::optional<std::u16string> utf16FromUtf8(std::string_view text);

// A pool or adapter name we can keep: 1 to 127 UTF-16 units, well formed,
// without control characters (the alias separates with a tab).
bool isValidAdapterName(std::u16string_view name);

// The alias for these names; nullopt when a name is not valid or the alias
// would not fit the kernel's 255 bytes.
std::optional<std::string> encodeAdapterAlias(const AdapterIdentity& identity);

// The names an alias keeps; nullopt when it is not one of ours.
std::optional<AdapterIdentity> decodeAdapterAlias(std::string_view alias);
