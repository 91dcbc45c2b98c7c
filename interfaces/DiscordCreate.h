#pragma once

// The SDK's creation entry. The library in sdk/ exports it; the program
// defines its own, which forwards to the embedded copy of that library.

#include <cstdint>

extern "C" {
struct DiscordCreateParams;
struct DiscordCoreInterface;

using DiscordResultCode = std::int32_t; // 0 is success
constexpr std::uint32_t discordInterfaceVersion = 2;

DiscordResultCode DiscordCreate(std::uint32_t version, DiscordCreateParams* params,
                                DiscordCoreInterface** result);
}
