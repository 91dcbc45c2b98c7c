#pragma once

// Passed in place of the SDK's creation parameters to the test SDK library.

#include "interfaces/DiscordCreate.h"

struct DiscordProbe {
    DiscordResultCode answer = 0;
    int calls = 0;
    std::uint32_t version = 0;
    DiscordCoreInterface** result = nullptr;
    const void* copyMarker = nullptr;
};
