#pragma once

// The messages between the program and its LAN helper (vpn/lan-helper/), one
// per message of a SOCK_SEQPACKET socket pair: a kind byte, a 32-bit value
// (big-endian) and, for some kinds, an IPv4 packet.
//   opened      helper: 0, or the errno value of opening its tap
//   captured    helper: the interface index a local program's datagram left
//               through, and the datagram
//   send        program: 0, and a datagram to put on the LAN
//   sendResult  helper: 0, or why the datagram was not sent (errno value)

#include "platform/linux/LanTap.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

enum class LanHelperKind : std::uint8_t { opened = 1, captured = 2, send = 3, sendResult = 4 };

constexpr std::size_t lanHelperHeader = 5;
// Longer messages are malformed.
constexpr std::size_t lanHelperMessageLimit = lanHelperHeader + LanTap::largestPacket;

struct LanHelperMessage {
    LanHelperKind kind = LanHelperKind::opened;
    std::uint32_t value = 0;
    std::span<const std::uint8_t> packet; // within the parsed bytes
};

// Nothing for an unknown kind, a short or long message, or a packet where
// its kind carries none.
std::optional<LanHelperMessage> parseLanHelperMessage(std::span<const std::uint8_t> message);
std::vector<std::uint8_t> encodeLanHelperMessage(LanHelperKind kind, std::uint32_t value,
                                                 std::span<const std::uint8_t> packet = {});
