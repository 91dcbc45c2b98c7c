#include "platform/LanSide.h"

#include "platform/linux/GroupMirror.h"
#include "platform/linux/InterfaceView.h"
#include "platform/linux/LanChannel.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace {

// Where the system sends a multicast whose program chose no interface: any
// group outside the link-local block takes the same route.
constexpr std::uint32_t probeGroup = 0xeffffffau; // 239.255.255.250

// The source address the system picks for a multicast with no interface
// chosen, from a route lookup; nothing without such a route.
std::optional<std::uint32_t> multicastSourceAddress() {
    const int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return std::nullopt;
    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(9);
    group.sin_addr.s_addr = htonl(probeGroup);
    sockaddr_in local{};
    socklen_t length = sizeof local;
    const bool found = connect(probe, reinterpret_cast<sockaddr*>(&group), sizeof group) == 0 &&
                       getsockname(probe, reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
                       local.sin_addr.s_addr != 0;
    close(probe);
    return found ? std::optional(local.sin_addr.s_addr) : std::nullopt;
}

// The tap in this process: the program runs with CAP_NET_RAW (as root).
class TapChannel final : public LanChannel {
public:
    explicit TapChannel(LanTap tap) : tap(std::move(tap)) {}
    WaitableHandle readyHandle() const override { return waitableOf(tap.handle()); }
    std::optional<LanTap::Sent> receive(std::span<std::uint8_t> buffer) override {
        return tap.receive(buffer);
    }
    int send(std::span<const std::uint8_t> packet, std::uint32_t interfaceIndex,
             bool ethernet) override {
        return tap.send(packet, interfaceIndex, ethernet);
    }

private:
    LanTap tap;
};

class LinuxLanSide final : public LanSide {
public:
    LinuxLanSide(std::unique_ptr<LanChannel> channel, std::uint32_t adapterAddress)
        : channel(std::move(channel)), adapterAddress(adapterAddress) {
        refresh();
    }

    WaitableHandle readyHandle() const override { return channel->readyHandle(); }

    std::vector<std::uint8_t> receive() override {
        while (const std::optional<LanTap::Sent> sent = channel->receive(buffer)) {
            const std::span<const std::uint8_t> packet(buffer.data(), sent->size);
            if (adapterIndex && sent->interfaceIndex != adapterIndex &&
                interfaces.sentFrom(sent->interfaceIndex, packet))
                return {packet.begin(), packet.end()};
        }
        return {};
    }

    std::optional<std::uint32_t> lanAddress() const override {
        return lan ? std::optional(lan->address) : std::nullopt;
    }

    int sendToLan(std::span<const std::uint8_t> packet) override {
        if (!lan || packet.size() < 20)
            return ENETUNREACH;
        return channel->send(packet, lan->index, interfaces.isEthernet(lan->index));
    }

    void refresh() override {
        interfaces = InterfaceView::read();
        adapterIndex = interfaces.indexOf(adapterAddress);
        lan.reset();
        // Without the adapter in sight nothing is told apart from it: no copies.
        if (!adapterIndex)
            return;
        if (const std::optional<std::uint32_t> source = multicastSourceAddress()) {
            const std::optional<std::uint32_t> index = interfaces.indexOf(*source);
            if (index && index != adapterIndex)
                lan = LanInterface{*index, *source};
        }
        groups.mirrorOnto(*adapterIndex);
    }

private:
    struct LanInterface {
        std::uint32_t index = 0;
        std::uint32_t address = 0;
    };

    std::unique_ptr<LanChannel> channel;
    std::uint32_t adapterAddress;
    std::array<std::uint8_t, LanTap::largestPacket> buffer{};
    InterfaceView interfaces;
    std::optional<std::uint32_t> adapterIndex;
    std::optional<LanInterface> lan;
    GroupMirror groups;
};

} // namespace

std::unique_ptr<LanSide> LanSide::open(std::uint32_t adapterAddress, LanSideError& error) {
    int tapError = 0;
    std::unique_ptr<LanChannel> channel;
    if (std::optional<LanTap> tap = LanTap::open(tapError))
        channel = std::make_unique<TapChannel>(std::move(*tap));
    else if (tapError == EPERM || tapError == EACCES)
        channel = openHelperChannel(error); // the installed program holds no privilege
    else
        error.reason = std::string("cannot watch the LAN: ") + std::strerror(tapError);
    if (!channel)
        return nullptr;
    return std::make_unique<LinuxLanSide>(std::move(channel), adapterAddress);
}
