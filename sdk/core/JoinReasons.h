#pragma once

// Why a join from an invitation failed, in words a person can act on; the
// client window and the command line show it.

#include "interfaces/DiscordSdk.h"

#include <chrono>
#include <string>
#include <string_view>

namespace sdk {

std::string joinFailureText(DiscordResultCode result, std::string_view secret,
                            std::chrono::milliseconds tried);

} // namespace sdk
