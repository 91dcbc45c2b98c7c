#include "platform/linux/LanHelperProtocol.h"

#include <cstring>

std::optional<LanHelperMessage> parseLanHelperMessage(std::span<const std::uint8_t> message) {
    if (message.size() < lanHelperHeader || message.size() > lanHelperMessageLimit)
        return std::nullopt;
    LanHelperMessage parsed;
    parsed.kind = static_cast<LanHelperKind>(message[0]);
    parsed.value = std::uint32_t{message[1]} << 24 | std::uint32_t{message[2]} << 16 |
                   std::uint32_t{message[3]} << 8 | message[4];
    parsed.packet = message.subspan(lanHelperHeader);
    switch (parsed.kind) {
    case LanHelperKind::opened:
    case LanHelperKind::sendResult:
        if (!parsed.packet.empty())
            return std::nullopt;
        return parsed;
    case LanHelperKind::captured:
    case LanHelperKind::send:
        if (parsed.packet.empty())
            return std::nullopt;
        return parsed;
    }
    return std::nullopt;
}

std::vector<std::uint8_t> encodeLanHelperMessage(LanHelperKind kind, std::uint32_t value,
                                                 std::span<const std::uint8_t> packet) {
    std::vector<std::uint8_t> message(lanHelperHeader + packet.size());
    message[0] = static_cast<std::uint8_t>(kind);
    for (int i = 0; i < 4; ++i)
        message[1 + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
    if (!packet.empty())
        std::memcpy(message.data() + lanHelperHeader, packet.data(), packet.size());
    return message;
}
