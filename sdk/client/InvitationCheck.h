#pragma once

// The client's whole check of a pasted invitation before the program gets
// it: the characters and prefix the control protocol allows, then the record
// itself with its check value, so a cut or mistyped invitation is refused here
// with a reason instead of failing in the program's run later.

#include <optional>
#include <string>
#include <string_view>

// Why text is not a usable invitation, in words for a person; nothing when it is.
std::optional<std::string> invitationRefusal(std::string_view text);
