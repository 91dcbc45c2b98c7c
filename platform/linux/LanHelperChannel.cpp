// The program's end of the LAN helper: our child, connected by a socket pair
// that is its standard input. It ends when our end closes.
#include "platform/linux/HelperProcess.h"
#include "platform/linux/LanChannel.h"
#include "platform/linux/LanHelperProtocol.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifndef VASKOR_LAN_HELPER_PATH
#error "VASKOR_LAN_HELPER_PATH names the installed LAN helper"
#endif

namespace {

// The helper opens its tap at once; one that hangs must not hold the run.
constexpr int openedTimeLimitMs = 5000;

// The installed helper; VASKOR_LAN_HELPER names another (the build's own,
// in tests). This process holds no privilege for the choice to matter.
std::string helperPath() {
    const char* chosen = std::getenv("VASKOR_LAN_HELPER");
    return chosen != nullptr && *chosen != '\0' ? chosen : VASKOR_LAN_HELPER_PATH;
}

class HelperChannel final : public LanChannel {
public:
    HelperChannel(pid_t child, int socket) : child(child), socket(socket) {}
    ~HelperChannel() override {
        close(socket); // the helper ends on it
        childExitStatus(child);
    }

    WaitableHandle readyHandle() const override { return gone ? nullptr : waitableOf(socket); }

    std::optional<LanTap::Sent> receive(std::span<std::uint8_t> buffer) override {
        while (!gone) {
            std::uint8_t message[lanHelperMessageLimit + 1];
            const ssize_t length = recv(socket, message, sizeof message, MSG_DONTWAIT | MSG_TRUNC);
            if (length < 0 && errno == EINTR)
                continue;
            if (length < 0)
                return std::nullopt;
            if (length == 0) {
                // Its end stays readable for good: the run must not spin on it.
                gone = true;
                std::fprintf(stderr, "vaskor-vpn: the LAN helper ended; LAN discovery stops\n");
                return std::nullopt;
            }
            const auto parsed = parseLanHelperMessage({message, static_cast<std::size_t>(length)});
            if (!parsed || parsed->kind != LanHelperKind::captured)
                continue; // a copy's verdict: lost copies are lost datagrams
            const std::size_t size = std::min(parsed->packet.size(), buffer.size());
            std::memcpy(buffer.data(), parsed->packet.data(), size);
            return LanTap::Sent{parsed->value, size};
        }
        return std::nullopt;
    }

    int send(std::span<const std::uint8_t> packet, std::uint32_t, bool) override {
        // The helper picks the interface from the source address itself.
        if (gone || packet.empty() || packet.size() > LanTap::largestPacket)
            return gone ? EPIPE : EINVAL;
        const std::vector<std::uint8_t> message =
            encodeLanHelperMessage(LanHelperKind::send, 0, packet);
        return ::send(socket, message.data(), message.size(), MSG_DONTWAIT | MSG_NOSIGNAL) < 0
                   ? errno
                   : 0;
    }

private:
    pid_t child;
    int socket;
    bool gone = false;
};

// The helper's first message: 0, or why it could not open its tap.
int awaitOpened(int socket) {
    pollfd ready{socket, POLLIN, 0};
    int polled = 0;
    do
        polled = poll(&ready, 1, openedTimeLimitMs);
    while (polled < 0 && errno == EINTR);
    if (polled <= 0)
        return ETIMEDOUT;
    std::uint8_t message[lanHelperMessageLimit + 1];
    const ssize_t length = recv(socket, message, sizeof message, MSG_TRUNC);
    if (length <= 0)
        return ECONNRESET;
    const auto parsed = parseLanHelperMessage({message, static_cast<std::size_t>(length)});
    if (!parsed || parsed->kind != LanHelperKind::opened)
        return EPROTO;
    return static_cast<int>(parsed->value);
}

} // namespace

std::unique_ptr<LanChannel> openHelperChannel(LanSideError& error) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        error.reason = std::string("cannot start the LAN helper: ") + std::strerror(errno);
        return nullptr;
    }
    const std::string path = helperPath();
    pid_t child = 0;
    const int spawned = startHelper(path, pair[1], child);
    close(pair[1]);
    if (spawned != 0) {
        close(pair[0]);
        // Not installed, or this user is not in the group that may run it.
        error.noRights = spawned == ENOENT || spawned == EACCES || spawned == EPERM;
        error.reason = "cannot start the LAN helper " + path + ": " + std::strerror(spawned);
        return nullptr;
    }
    auto channel = std::make_unique<HelperChannel>(child, pair[0]);
    if (const int opened = awaitOpened(pair[0]); opened != 0) {
        error.noRights = opened == EPERM || opened == EACCES;
        error.reason = error.noRights ? "the LAN helper holds no CAP_NET_RAW"
                                      : std::string("the LAN helper cannot watch the LAN: ") +
                                            std::strerror(opened);
        return nullptr;
    }
    return channel;
}
