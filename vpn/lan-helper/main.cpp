// vaskor-lan-helper: LAN discovery's eyes and hands on the physical LAN for
// the one process that started it. Watching what local programs send, and
// sending past the machine's own stack, need a packet socket, and opening one
// needs CAP_NET_RAW (given to this file; the window's program holds none).
// It opens its tap, gives up every capability, then hands its parent the
// discovery datagrams local programs send on the LAN and sends the copies
// its parent asks for, each checked (LanCopyGate.h). Its requests come on
// standard input, a socket pair whose other end only its parent holds; when
// that end closes, it ends.

#include "platform/linux/HelperCaller.h"
#include "platform/linux/LanHelperProtocol.h"
#include "vpn/lan-helper/LanCopyGate.h"

#include <linux/capability.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int requests = 0; // standard input
constexpr auto refreshInterval = std::chrono::seconds(1);
// Captured datagrams handed over per wake-up, so that requests get their turn.
constexpr int capturedPerWake = 64;

int refuse(const char* reason) {
    std::fprintf(stderr, "vaskor-lan-helper: %s\n", reason);
    return 1;
}

void tell(LanHelperKind kind, std::uint32_t value, std::span<const std::uint8_t> packet = {}) {
    const std::vector<std::uint8_t> message = encodeLanHelperMessage(kind, value, packet);
    // A parent that does not read loses datagrams, as a full socket would.
    send(requests, message.data(), message.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
}

// The open tap is all the privilege needed: what this process could still do
// with a capability, it cannot do any more.
bool dropCapabilities() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3]{};
    return syscall(SYS_capset, &header, none) == 0 && prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
}

class Helper {
public:
    explicit Helper(LanTap tap) : tap(std::move(tap)) {}

    int run() {
        std::array<pollfd, 2> watched{pollfd{requests, POLLIN, 0}, pollfd{tap.handle(), POLLIN, 0}};
        for (;;) {
            const int polled = poll(watched.data(), watched.size(), 1000);
            if (polled < 0 && errno != EINTR)
                return refuse("cannot wait for work");
            refreshIfDue();
            if (watched[1].revents & POLLIN)
                handOverCaptured();
            if (watched[0].revents & (POLLIN | POLLHUP | POLLERR))
                if (!serveRequest())
                    return 0; // our parent is gone
        }
    }

private:
    void refreshIfDue() {
        const auto now = std::chrono::steady_clock::now();
        if (now - lastRefresh < refreshInterval)
            return;
        view = InterfaceView::read();
        lastRefresh = now;
    }

    // Only what a local program sent on one of this machine's interfaces, as
    // a discovery datagram: nothing else of the machine's traffic.
    void handOverCaptured() {
        for (int i = 0; i < capturedPerWake; ++i) {
            const std::optional<LanTap::Sent> sent = tap.receive(buffer);
            if (!sent)
                return;
            const std::span<const std::uint8_t> packet(buffer.data(), sent->size);
            if (discovery::kindOf(packet) != discovery::Kind::none &&
                view.sentFrom(sent->interfaceIndex, packet))
                tell(LanHelperKind::captured, sent->interfaceIndex, packet);
        }
    }

    bool serveRequest() {
        std::uint8_t message[lanHelperMessageLimit + 1];
        const ssize_t length = recv(requests, message, sizeof message, MSG_DONTWAIT | MSG_TRUNC);
        if (length < 0)
            return errno == EAGAIN || errno == EINTR;
        if (length == 0)
            return false;
        const auto request = parseLanHelperMessage({message, static_cast<std::size_t>(length)});
        if (!request || request->kind != LanHelperKind::send) {
            tell(LanHelperKind::sendResult, EINVAL);
            return true;
        }
        LanCopyTarget target;
        int result = gate.admit(request->packet, view, target);
        if (result == 0)
            result = tap.send(request->packet, target.interfaceIndex, target.ethernet);
        tell(LanHelperKind::sendResult, static_cast<std::uint32_t>(result));
        return true;
    }

    LanTap tap;
    LanCopyGate gate;
    InterfaceView view = InterfaceView::read();
    std::chrono::steady_clock::time_point lastRefresh = std::chrono::steady_clock::now();
    std::array<std::uint8_t, LanTap::largestPacket> buffer{};
};

} // namespace

int main() {
    clearenv();
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    std::signal(SIGPIPE, SIG_IGN);
    if (const char* problem = helperCallerProblem(requests))
        return refuse(problem);

    int error = 0;
    std::optional<LanTap> tap = LanTap::open(error);
    if (tap && !dropCapabilities())
        error = errno;
    tell(LanHelperKind::opened, static_cast<std::uint32_t>(error));
    if (error != 0)
        return 1;
    return Helper(std::move(*tap)).run();
}
