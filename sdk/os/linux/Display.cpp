#include "sdk/os/Display.h"

namespace sdk::os {

bool hasDisplay(const SettingLookup& setting) {
    const auto hasValue = [](const std::optional<std::string>& value) {
        return value && !value->empty();
    };
    return hasValue(setting("DISPLAY")) || hasValue(setting("WAYLAND_DISPLAY"));
}

} // namespace sdk::os
