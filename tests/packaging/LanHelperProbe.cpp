// lan-helper-probe HELPER ADDRESS: what a local user can make the installed
// LAN helper send, from a machine whose LAN interface holds ADDRESS. It
// starts the helper as its parent, then asks for a unicast, a broadcast from
// a privileged port, one from another machine's address and a message that
// is no request; then a flood of good broadcasts, of which only the bound
// may go out. Prints one line per check; exits 0 when the helper held to
// each, 1 otherwise.

#include "platform/linux/HelperProcess.h"
#include "platform/linux/LanHelperProtocol.h"
#include "tests/support/Ipv4Packets.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <string>

namespace {

constexpr int replyTimeLimitMs = 5000;

int socketEnd = -1;

// The next message of a kind, skipping what the helper captured meanwhile.
std::optional<std::uint32_t> await(LanHelperKind kind) {
    for (;;) {
        pollfd ready{socketEnd, POLLIN, 0};
        if (poll(&ready, 1, replyTimeLimitMs) <= 0)
            return std::nullopt;
        std::uint8_t message[lanHelperMessageLimit + 1];
        const ssize_t length = recv(socketEnd, message, sizeof message, MSG_TRUNC);
        if (length <= 0)
            return std::nullopt;
        const auto parsed = parseLanHelperMessage({message, static_cast<std::size_t>(length)});
        if (parsed && parsed->kind == kind)
            return parsed->value;
    }
}

std::optional<std::uint32_t> ask(const std::vector<std::uint8_t>& message) {
    if (send(socketEnd, message.data(), message.size(), MSG_NOSIGNAL) < 0)
        return std::nullopt;
    return await(LanHelperKind::sendResult);
}

std::optional<std::uint32_t> askToSend(const std::vector<std::uint8_t>& packet) {
    return ask(encodeLanHelperMessage(LanHelperKind::send, 0, packet));
}

std::string describe(std::optional<std::uint32_t> result) {
    if (!result)
        return "no answer";
    return *result == 0 ? "sent" : std::strerror(static_cast<int>(*result));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: lan-helper-probe HELPER ADDRESS\n");
        return 2;
    }
    const std::uint32_t own = ipv4Address(argv[2]);
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
        return 2;
    pid_t child = -1;
    const int spawned = startHelper(argv[1], pair[1], child);
    close(pair[1]);
    socketEnd = pair[0];
    if (spawned != 0) {
        std::printf("cannot start %s: %s\n", argv[1], std::strerror(spawned));
        return 1;
    }
    const std::optional<std::uint32_t> opened = await(LanHelperKind::opened);
    if (opened != 0u) {
        std::printf("the helper did not open its tap: %s\n", describe(opened).c_str());
        return 1;
    }

    bool held = true;
    auto expect = [&](const char* what, std::optional<std::uint32_t> result, int wanted) {
        const bool ok = result == static_cast<std::uint32_t>(wanted);
        std::printf("%s %s: %s\n", ok ? "refused" : "NOT REFUSED", what, describe(result).c_str());
        held = held && ok;
    };
    const std::uint32_t broadcast = ipv4Address("255.255.255.255");
    expect("a unicast to another machine",
           askToSend(udpPacket(own, ipv4Address("10.231.0.2"), 40000, 4445, 60)), EINVAL);
    expect("a broadcast from DHCP's server port", askToSend(udpPacket(own, broadcast, 67, 68, 300)),
           EACCES);
    expect("a broadcast in another machine's name",
           askToSend(udpPacket(ipv4Address("10.231.0.2"), broadcast, 40000, 4445, 60)),
           EADDRNOTAVAIL);
    expect("a message that is no request", ask(encodeLanHelperMessage(LanHelperKind::opened, 0)),
           EINVAL);

    // Far more than the bound at once: the burst goes out, the rest waits.
    int sent = 0, refused = 0;
    for (int i = 0; i < 300; ++i) {
        const std::optional<std::uint32_t> result =
            askToSend(udpPacket(own, broadcast, 40000, 4445, 60, static_cast<std::uint32_t>(i)));
        if (result == 0u)
            ++sent;
        else if (result == static_cast<std::uint32_t>(EAGAIN))
            ++refused;
    }
    // The burst, and what the rate adds while the flood is asked for.
    const bool bounded = sent >= 64 && sent <= 96 && sent + refused == 300;
    std::printf("%s a flood of 300 good broadcasts: %d sent, %d over the bound\n",
                bounded ? "bounded" : "NOT BOUNDED", sent, refused);
    held = held && bounded;

    close(socketEnd);
    childExitStatus(child);
    return held ? 0 : 1;
}
