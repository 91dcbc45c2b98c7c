// A game as LAN games find each other, for the discovery tests and the demo.
// It chooses no interface anywhere: its listener is bound to every address
// and joins its group without naming an interface, and its announcements go
// to 255.255.255.255 or to the group as the system routes them.
//
//   vaskor-lan-game PORT GROUP
//
// Standard input, one command a line:
//   send DEST TEXT         one datagram TEXT to DEST:PORT from the announcer
//   flood DEST COUNT       COUNT datagrams "flood-N" to DEST:PORT, at once (N
//                          counts on over every flood of the run)
//   sendfrom SPORT DEST TEXT  one datagram TEXT to DEST:PORT from a socket of
//                          its own on port SPORT (below 1024: as root), as a
//                          system service would
// Standard output:
//   heard TEXT from ADDR   the listener got TEXT; it answers "re:TEXT" to
//                          the sender unless TEXT is itself an answer or a flood
//   reply TEXT from ADDR   the announcer got an answer
#include "tests/support/LineProgram.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

namespace {

using testsupport::say;

int udpSocket(std::uint16_t port) {
    const int descriptor = socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1;
    setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(descriptor, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(port);
    if (descriptor < 0 || bind(descriptor, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
        std::perror("vaskor-lan-game: socket");
        std::exit(1);
    }
    return descriptor;
}

std::string textOf(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return text;
}

void sendTo(int descriptor, const std::string& destination, std::uint16_t port,
            const std::string& text) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    if (inet_pton(AF_INET, destination.c_str(), &to.sin_addr) != 1 ||
        sendto(descriptor, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to),
               sizeof to) < 0)
        say("error cannot send to " + destination + ": " + std::strerror(errno));
}

std::string receiveFrom(int descriptor, sockaddr_in& from) {
    char buffer[2048];
    socklen_t length = sizeof from;
    const ssize_t size = recvfrom(descriptor, buffer, sizeof buffer, MSG_DONTWAIT,
                                  reinterpret_cast<sockaddr*>(&from), &length);
    return size < 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(size));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PORT GROUP\n", argv[0]);
        return 2;
    }
    testsupport::stopOnSignals();
    const auto port = static_cast<std::uint16_t>(std::atoi(argv[1]));
    const int listener = udpSocket(port);
    ip_mreqn membership{}; // no interface named: the system picks one
    if (inet_pton(AF_INET, argv[2], &membership.imr_multiaddr) != 1) {
        std::fprintf(stderr, "vaskor-lan-game: %s is not an IPv4 group\n", argv[2]);
        return 2;
    }
    // A machine without a default route has no interface for it: broadcasts only.
    if (setsockopt(listener, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0)
        say(std::string("no group: ") + std::strerror(errno));
    const int announcer = udpSocket(0);
    say("listening");

    std::string input;
    unsigned flooded = 0; // every flood datagram differs from the others
    pollfd waits[3] = {{STDIN_FILENO, POLLIN, 0}, {listener, POLLIN, 0}, {announcer, POLLIN, 0}};
    while (!testsupport::stopRequested()) {
        if (poll(waits, 3, 200) <= 0)
            continue;
        sockaddr_in from{};
        for (std::string text = receiveFrom(listener, from); !text.empty();
             text = receiveFrom(listener, from)) {
            say("heard " + text + " from " + textOf(from));
            if (text.rfind("re:", 0) != 0 && text.rfind("flood-", 0) != 0)
                sendto(listener, ("re:" + text).data(), text.size() + 3, 0,
                       reinterpret_cast<sockaddr*>(&from), sizeof from);
        }
        for (std::string text = receiveFrom(announcer, from); !text.empty();
             text = receiveFrom(announcer, from))
            say("reply " + text + " from " + textOf(from));
        if (waits[0].revents & (POLLIN | POLLHUP)) {
            char buffer[512];
            const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
            if (got <= 0) {
                waits[0].fd = -1; // input closed: keep listening
                continue;
            }
            input.append(buffer, static_cast<std::size_t>(got));
            for (auto end = input.find('\n'); end != std::string::npos; end = input.find('\n')) {
                std::istringstream line(input.substr(0, end));
                input.erase(0, end + 1);
                std::string command;
                line >> command;
                if (command == "sendfrom") {
                    int sourcePort = 0;
                    std::string destination, text;
                    line >> sourcePort >> destination >> text;
                    const int service = udpSocket(static_cast<std::uint16_t>(sourcePort));
                    sendTo(service, destination, port, text);
                    close(service);
                    continue;
                }
                std::string destination, text;
                line >> destination >> text;
                if (command == "send")
                    sendTo(announcer, destination, port, text);
                else if (command == "flood")
                    for (int i = 0; i < std::atoi(text.c_str()); ++i)
                        sendTo(announcer, destination, port, "flood-" + std::to_string(flooded++));
            }
        }
    }
    return 0;
}
