#include "vpn/lan-helper/LanCopyGate.h"

#include "platform/linux/LanTap.h"

#include <cerrno>
#include <cstring>

int LanCopyGate::admit(std::span<const std::uint8_t> packet, const InterfaceView& view,
                       LanCopyTarget& target, Clock::time_point now) {
    if (packet.size() > LanTap::largestPacket || discovery::kindOf(packet) == discovery::Kind::none)
        return EINVAL;
    if (discovery::sourcePortOf(packet) < discovery::lowestLanCopyPort)
        return EACCES;
    std::uint32_t source = 0;
    std::memcpy(&source, packet.data() + 12, sizeof source);
    const std::optional<std::uint32_t> index = view.indexOf(source);
    if (!index || !view.isLan(*index))
        return EADDRNOTAVAIL;
    // Refused copies cost nothing of the bound: only what goes out counts.
    if (!bound.take(now))
        return EAGAIN;
    target = LanCopyTarget{*index, view.isEthernet(*index)};
    return 0;
}
