#include "sdk/client/CommandLine.h"

#include "sdk/client/InvitationCheck.h"
#include "sdk/client/MemberRows.h"

#include "sdk/control/ControlClient.h"
#include "sdk/control/ControlError.h"

#include <chrono>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* prefix = "vaskor-sdk-client: ";

std::chrono::milliseconds left(Clock::time_point deadline) {
    const auto remaining =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return std::max(remaining, std::chrono::milliseconds(0));
}

int printInvitation(ControlClient& client, const ClientOptions& options, std::ostream& out,
                    std::ostream& err) {
    const auto deadline = Clock::now() + options.timeout;
    for (;;) {
        const bool open = client.poll();
        if (client.hasState() && !client.state().invitation.empty()) {
            out << client.state().invitation << std::endl;
            return exitStatus::done;
        }
        if (!open) {
            err << prefix << client.endReason() << std::endl;
            return exitStatus::refused;
        }
        if (Clock::now() >= deadline) {
            err << prefix << "there is no invitation yet: the program shows one after you press "
                << "its Invite button" << std::endl;
            return exitStatus::refused;
        }
        client.waitAndPoll(left(deadline));
    }
}

int printStatus(ControlClient& client, const ClientOptions& options, std::ostream& out,
                std::ostream& err) {
    const auto deadline = Clock::now() + options.timeout;
    while (client.poll() && !client.hasState() && Clock::now() < deadline)
        client.waitAndPoll(left(deadline));
    if (!client.hasState()) {
        err << prefix
            << (client.connected() ? "the program did not answer in time" : client.endReason())
            << std::endl;
        return exitStatus::refused;
    }
    const ControlState& state = client.state();
    out << "user: " << state.userName << "\n"
        << "activity: " << state.activityState << "\n";
    if (state.partyCapacity > 0)
        out << "party: " << state.partySize << " of " << state.partyCapacity << "\n";
    if (!state.partyId.empty())
        out << "party id: " << state.partyId << "\n";
    out << "invitation: " << (state.invitation.empty() ? "(none yet)" : state.invitation)
        << std::endl;
    return exitStatus::done;
}

int printMembers(ControlClient& client, const ClientOptions& options, std::ostream& out,
                 std::ostream& err) {
    client.askMembers();
    const auto deadline = Clock::now() + options.timeout;
    for (;;) {
        const bool open = client.poll();
        if (const auto members = client.takeMembers()) {
            out << memberRows(*members) << std::flush;
            return exitStatus::done;
        }
        if (client.hasState())
            if (const auto answer = client.takeAnswer(); answer && !answer->accepted) {
                err << prefix << "the program refused: " << answer->error << std::endl;
                return exitStatus::refused;
            }
        if (!open) {
            err << prefix << client.endReason() << std::endl;
            return exitStatus::refused;
        }
        if (Clock::now() >= deadline) {
            err << prefix << "the program did not answer in time" << std::endl;
            return exitStatus::refused;
        }
        client.waitAndPoll(left(deadline));
    }
}

// After delivery, the program's join itself: joined, or why not.
int awaitJoinResult(ControlClient& client, Clock::time_point deadline, std::ostream& err) {
    for (;;) {
        const bool open = client.poll();
        if (const auto result = client.takeJoinResult()) {
            if (result->joined) {
                err << prefix << "joined the lobby" << std::endl;
                return exitStatus::done;
            }
            err << prefix << "could not join: " << result->text << std::endl;
            return exitStatus::refused;
        }
        if (!open || Clock::now() >= deadline) {
            err << prefix << "invitation delivered; the program has not said yet whether it "
                << "joined (a longer --timeout waits for it)" << std::endl;
            return exitStatus::done;
        }
        client.waitAndPoll(left(deadline));
    }
}

int deliverInvitation(ControlClient& client, const ClientOptions& options, std::ostream& err) {
    const std::string invitation(trimWhiteSpace(options.invitation));
    if (const auto problem = invitationRefusal(invitation)) {
        err << prefix << *problem << std::endl;
        return exitStatus::refused;
    }
    client.sendJoin(invitation);
    const auto deadline = Clock::now() + options.timeout;
    for (;;) {
        const bool open = client.poll();
        // Answers come in order; only the hello can bring an error first.
        if (client.hasState())
            if (const auto answer = client.takeAnswer()) {
                if (answer->accepted) {
                    if (client.joinResultComing())
                        return awaitJoinResult(client, deadline, err);
                    err << prefix << "invitation delivered" << std::endl;
                    return exitStatus::done;
                }
                err << prefix << "the program refused the invitation: " << answer->error
                    << std::endl;
                return exitStatus::refused;
            }
        if (!open) {
            err << prefix << client.endReason() << std::endl;
            return exitStatus::refused;
        }
        if (Clock::now() >= deadline) {
            err << prefix << "the program did not answer in time" << std::endl;
            return exitStatus::refused;
        }
        client.waitAndPoll(left(deadline));
    }
}

} // namespace

int runControlCommand(const ClientOptions& options, std::ostream& out, std::ostream& err) {
    std::unique_ptr<ControlClient> client;
    try {
        client = std::make_unique<ControlClient>(resolveSocketPath(options), options.timeout);
    } catch (const ControlError& error) {
        err << prefix << error.what() << std::endl;
        return exitStatus::noCore;
    }
    if (options.mode == ClientOptions::Mode::printInvitation)
        return printInvitation(*client, options, out, err);
    if (options.mode == ClientOptions::Mode::printStatus)
        return printStatus(*client, options, out, err);
    if (options.mode == ClientOptions::Mode::printMembers)
        return printMembers(*client, options, out, err);
    return deliverInvitation(*client, options, err);
}
