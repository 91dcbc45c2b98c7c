// helper-probe HELPER: what a local user can make the installed adapter
// helper do. It starts the helper as its parent and asks for another
// interface's change and a non-IPv4 address; then it hands a socket pair of
// its own to a helper that a child of it starts. Prints one line per check;
// exits 0 when the helper refused each, 1 otherwise.

#include "platform/linux/HelperProcess.h"
#include "tun/HelperReceive.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char* helper = nullptr;

// The reply, or nullopt when the helper ended or sent nothing parseable.
std::optional<HelperReply> ask(int socket, const std::vector<std::uint8_t>& request) {
    send(socket, request.data(), request.size(), MSG_NOSIGNAL);
    ReceivedReply received;
    if (receiveHelperReply(socket, 10000, received) != 0)
        return std::nullopt;
    return received.reply;
}

bool check(bool passed, const char* what, const std::string& detail) {
    std::printf("%s: %s (%s)\n", passed ? "refused" : "NOT REFUSED", what, detail.c_str());
    return passed;
}

std::string describe(const std::optional<HelperReply>& reply) {
    if (!reply)
        return "no answer";
    return std::string(std::strerror(reply->error)) + ": " + reply->text;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: helper-probe HELPER\n");
        return 2;
    }
    helper = argv[1];
    bool allRefused = true;
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
        return 1;
    pid_t child = -1;
    if (int rc = startHelper(helper, pair[1], child); rc != 0) {
        std::printf("cannot start %s: %s\n", helper, std::strerror(rc));
        return 1;
    }
    close(pair[1]);
    auto created = ask(pair[0], *encodeHelperCreate({u"Probe", u"Probe"}));
    if (!created || created->error != 0) {
        std::printf("the helper made no adapter for its parent: %s\n", describe(created).c_str());
        return 1;
    }
    std::printf("made for its parent: %s\n", created->text.c_str());
    auto other = ask(pair[0], *encodeHelperRequest({HelperRequestKind::setMtu, "lo", 1280, 0, 0}));
    allRefused &= check(other && other->error == EPERM, "another interface", describe(other));
    auto request = *encodeHelperRequest(
        {HelperRequestKind::addAddress, created->text, 0, htonl(0xC0A84D01), 24});
    request[2 + created->text.size()] = 6; // the family byte: IPv6
    auto family = ask(pair[0], request);
    allRefused &= check(family && family->error == EINVAL, "a non-IPv4 address", describe(family));
    close(pair[0]);
    childExitStatus(child);

    // A socket pair of ours, a helper started by our child: we are not its parent.
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
        return 1;
    pid_t middle = fork();
    if (middle == 0) {
        pid_t started = -1;
        _exit(startHelper(helper, pair[1], started) == 0 ? childExitStatus(started) : 99);
    }
    close(pair[1]);
    auto stranger = ask(pair[0], *encodeHelperCreate({u"Probe", u"Probe"}));
    close(pair[0]);
    int status = childExitStatus(middle);
    allRefused &= check(!stranger && status == 1, "a caller that is not its parent",
                        stranger ? describe(stranger) : "ended with " + std::to_string(status));
    return allRefused ? 0 : 1;
}
