#pragma once

#include "sdk/control/ControlProtocol.h"
#include "sdk/control/LineReader.h"
#include "sdk/os/Handle.h"

#include <chrono>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The core's answer to one request, in the order of the requests.
struct ControlAnswer {
    bool accepted = false;
    std::string error; // why not, when not accepted
};

// A client window's or the command line's end of a core's control socket.
class ControlClient {
public:
    // Connects to the core at path; throws ControlError with a text for a person.
    // timeout: how long a core that does not take connections is waited for.
    explicit ControlClient(const std::string& path,
                           std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

    // For an event loop that waits on the socket.
    sdk::os::Handle fd() const { return socket.get(); }

    // Sends what is queued and handles what has arrived, without blocking.
    // False once the connection has ended: the core is gone, or refused us.
    bool poll();
    // Waits up to timeout for the socket, then polls. For the command line.
    bool waitAndPoll(std::chrono::milliseconds timeout);

    bool connected() const { return socket.valid(); }
    // Why the connection ended: the core's last error, or what was seen.
    const std::string& endReason() const { return ended; }

    // Whether a complete snapshot has arrived, and the last one.
    bool hasState() const { return stateComplete; }
    const ControlState& state() const { return current; }
    // Each true once after a new snapshot, or after the program opened the invitation.
    bool takeStateChanged() { return std::exchange(stateChanged, false); }
    bool takeInvitationOpened() { return std::exchange(invitationOpened, false); }

    // Delivers an invitation received from a friend; the answer follows.
    void sendJoin(std::string_view invitation);
    std::optional<ControlAnswer> takeAnswer();
    // Asks for the lobby's members; the list arrives whole, once, in takeMembers.
    void askMembers();
    std::optional<std::vector<MemberMessage>> takeMembers() {
        return std::exchange(memberList, {});
    }
    // More member lines than a lobby can have are not kept.
    static constexpr std::size_t maxMembers = 64;
    // How the program's join from a delivered invitation ended, once.
    std::optional<JoinResultMessage> takeJoinResult() { return std::exchange(joinResult, {}); }
    // Whether the core said that a join result follows (before its ok).
    bool joinResultComing() const { return joinPending; }

private:
    void handleLine(const std::string& line);
    bool answerEndsMembers();
    void close(std::string reason);
    void flush();

    sdk::os::OwnedHandle socket;
    LineReader reader{controlLimits::lineBytes};
    std::string unsent;
    std::string ended;
    std::string lastError;
    bool greeted = false;
    ControlState incoming;
    ControlState current;
    bool stateComplete = false;
    bool stateChanged = false;
    bool invitationOpened = false;
    std::deque<ControlAnswer> answers;
    std::deque<bool> pendingMembers; // per request sent: whether it asked for members
    std::vector<MemberMessage> incomingMembers;
    std::optional<std::vector<MemberMessage>> memberList;
    std::optional<JoinResultMessage> joinResult;
    bool joinPending = false;
};
