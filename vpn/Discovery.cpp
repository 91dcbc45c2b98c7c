#include "vpn/Discovery.h"

#include <cstring>
#include <string_view>

namespace {

constexpr std::chrono::seconds refreshInterval{1};

std::uint32_t sourceOf(std::span<const std::uint8_t> packet) {
    std::uint32_t source = 0;
    std::memcpy(&source, packet.data() + 12, sizeof source);
    return source;
}

} // namespace

std::optional<bool> Discovery::readSetting(const char* value) {
    if (value == nullptr)
        return true;
    const std::string_view text(value);
    for (std::string_view on : {"", "1", "on", "yes", "true"})
        if (text == on)
            return true;
    for (std::string_view off : {"0", "off", "no", "false"})
        if (text == off)
            return false;
    return std::nullopt;
}

std::optional<LanSideError> Discovery::start(std::uint32_t address) {
    if (!enabled || (lan && address == vpnAddress))
        return std::nullopt;
    lan.reset(); // its memberships go with it
    vpnAddress = address;
    LanSideError error;
    lan = LanSide::open(address, error);
    lastRefresh = Clock::now();
    if (!lan) {
        error.reason = "LAN games on the VPN will not see those on this machine's own network: " +
                       error.reason;
        return error;
    }
    return std::nullopt;
}

bool Discovery::fromAdapter(std::span<const std::uint8_t> packet, Clock::time_point now) {
    if (!lan || discovery::kindOf(packet) == discovery::Kind::none ||
        sourceOf(packet) != vpnAddress)
        return true;
    if (sentToVpn.seenBefore(packet, now) || !intoVpn.take(now))
        return false;
    if (const std::optional<std::uint32_t> lanAddress = lan->lanAddress();
        lanAddress && discovery::sourcePortOf(packet) >= discovery::lowestLanCopyPort &&
        !seenOnLan.seenBefore(packet, now) && toLan.take(now)) {
        const std::vector<std::uint8_t> copy = discovery::withSource(packet, *lanAddress);
        lan->sendToLan(copy); // a lost copy is a lost datagram, as on any LAN
    }
    return true;
}

std::vector<std::uint8_t> Discovery::nextForMembers(Clock::time_point now) {
    if (!lan)
        return {};
    if (now - lastRefresh >= refreshInterval) {
        lan->refresh();
        lastRefresh = now;
    }
    for (;;) {
        const std::vector<std::uint8_t> packet = lan->receive();
        if (packet.empty())
            return {};
        if (discovery::kindOf(packet) == discovery::Kind::none)
            continue;
        seenOnLan.seenBefore(packet, now);
        if (sentToVpn.seenBefore(packet, now) || !intoVpn.take(now))
            continue;
        return discovery::withSource(packet, vpnAddress);
    }
}
