#pragma once

// Values shared by every part of the transport.

#include "sdk/os/Endpoint.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

namespace sdk::transport {

using PeerId = std::uint64_t;
using PublicKey = std::array<std::uint8_t, 32>;
using SecretKey = std::array<std::uint8_t, 32>;
using SymmetricKey = std::array<std::uint8_t, 32>;
using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using Milliseconds = std::chrono::milliseconds;

using Endpoint = os::Endpoint;

// A channel of a peer. The program's channels are 0..255; internal channels
// (such as the lobby's control channel) live beside them and never reach the
// program's message event.
struct Channel {
    std::uint8_t id = 0;
    bool internal = false;

    bool operator==(const Channel&) const = default;
    std::uint16_t key() const { return static_cast<std::uint16_t>((internal ? 0x100 : 0) | id); }
    static constexpr Channel control() { return Channel{0, true}; }
};

enum class Reliability { unreliable, reliable };

} // namespace sdk::transport
