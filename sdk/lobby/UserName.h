#pragma once

// A member's name as the lobby carries it: 1..maxUserNameBytes bytes of
// well-formed UTF-8 with no control characters (C0, DEL, C1), no format
// characters and no separators but the plain space, so that every core may
// show it in a window or a terminal line as it is and no member can pose as
// another. Decoders refuse anything else; a core cleans its own name before
// it sends it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sdk::lobby {

inline constexpr std::size_t maxUserNameBytes = 64;

bool validUserName(std::string_view name);

// name without malformed sequences and refused characters, cut to
// maxUserNameBytes on a character boundary; "user <id>" if nothing is left.
std::string cleanUserName(std::string_view name, std::int64_t userId);

} // namespace sdk::lobby
