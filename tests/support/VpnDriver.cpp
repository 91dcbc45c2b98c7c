// Runs one Vpn without a window, as the engine tests' "machine": the status a
// person would read in the window, printed as lines on standard output.
//
//   vaskor-vpn-driver host [ADDRESS]   a host run (default 192.168.42.1/24)
//   vaskor-vpn-driver member           a member run
//
// Prints "address A", "counters SENT RECEIVED", "message TEXT" and
// "error TEXT" as they change; a line "invite" on standard input presses
// Invite. Ends after an error (exit 1) or on SIGINT/SIGTERM (exit 0).
#include "tests/support/LineProgram.h"
#include "vpn/Vpn.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

using testsupport::say;

// Reads whatever standard input has ready; true for each full "invite" line.
bool inviteRequested(std::string& pending) {
    pollfd in{STDIN_FILENO, POLLIN, 0};
    if (poll(&in, 1, 0) <= 0 || !(in.revents & POLLIN))
        return false;
    char buffer[256];
    const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
    if (got <= 0)
        return false;
    pending.append(buffer, static_cast<std::size_t>(got));
    bool invite = false;
    for (auto end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
        invite |= pending.substr(0, end) == "invite";
        pending.erase(0, end + 1);
    }
    return invite;
}

} // namespace

int main(int argc, char** argv) {
    const bool host = argc >= 2 && std::strcmp(argv[1], "host") == 0;
    if (argc < 2 || (!host && std::strcmp(argv[1], "member") != 0)) {
        std::fprintf(stderr, "usage: %s host [ADDRESS] | member\n", argv[0]);
        return 2;
    }
    testsupport::stopOnSignals();

    std::unique_ptr<Vpn> run;
    try {
        run = host ? std::make_unique<Vpn>(Ipv4Cidr::parse(argc >= 3 ? argv[2] : "192.168.42.1/24"))
                   : std::make_unique<Vpn>();
    } catch (const std::exception& error) {
        say(std::string("error Cannot start VPN: ") + error.what());
        return 1;
    }
    say(host ? "started host" : "started member");

    std::string lastAddress, lastCounters, input;
    while (!testsupport::stopRequested()) {
        if (inviteRequested(input))
            run->requestInvite();
        if (auto error = run->takeError()) {
            say(std::string("error ") + error->what());
            return 1;
        }
        if (auto message = run->takeMessage())
            say("message " + *message);
        if (auto address = run->address(); address && address->toString() != lastAddress)
            say("address " + (lastAddress = address->toString()));
        const std::string counters =
            std::to_string(run->sentBytes()) + " " + std::to_string(run->receivedBytes());
        if (counters != lastCounters)
            say("counters " + (lastCounters = counters));
        usleep(100 * 1000);
    }
    run.reset();
    say("stopped");
    return 0;
}
