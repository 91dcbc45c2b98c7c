#pragma once

// Whether a window can be shown here.

#include <functional>
#include <optional>
#include <string>

namespace sdk::os {

// Reads a setting: the environment, unless a test says otherwise.
using SettingLookup = std::function<std::optional<std::string>(const char* name)>;

// On Linux: DISPLAY or WAYLAND_DISPLAY is set and not empty.
bool hasDisplay(const SettingLookup& setting);

} // namespace sdk::os
