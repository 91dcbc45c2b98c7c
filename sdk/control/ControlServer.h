#pragma once

#include "sdk/control/ControlProtocol.h"
#include "sdk/control/LineReader.h"
#include "sdk/os/Handle.h"
#include "sdk/os/LocalSocket.h"
#include "sdk/os/SocketWatch.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The core's end of the control socket. The core sets what the client window
// shows, and takes the invitations that a person gave to the window or to the
// command line. Single-threaded: everything, poll() included, runs on the
// thread that runs the core's callbacks, and nothing here calls back.
class ControlServer {
public:
    // Listens on path (see ControlSocketPath.h) with mode 0600; connections
    // of other users are refused. Throws ControlError.
    explicit ControlServer(std::string path);
    // Serves on a socket that already listens at path (listenLocalSocketIfFree).
    ControlServer(sdk::os::OwnedHandle listening, std::string path);
    // Closes every connection (the client window then ends) and removes the
    // socket file.
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    const std::string& path() const { return socketPath; }

    // Readable when poll() has work to do; for a core that waits.
    sdk::os::Handle pollFd() const { return events.handle(); }

    // Accepts, reads requests, answers and sends state changes. Never blocks.
    void poll();
    // When poll has work that no socket announces: taking connections again
    // after running out of descriptors; none while listening.
    std::optional<std::chrono::steady_clock::time_point> nextDeadline() const;

    void setUserName(std::string_view name);
    // state: for example "Hosting a VPN"; partySize 0 for no party.
    void setActivity(std::string_view state, std::int32_t partySize, std::int32_t partyCapacity,
                     std::string_view partyId = {});
    // The program asked to show the invitation: the window shows text with a
    // Copy button and comes to the front; the command line can read it.
    void openInvitation(std::string_view invitation);
    // The program asked, and the invitation is not ready yet: the window
    // comes to the front without one and says it is being prepared.
    void prepareInvitation();
    void clearInvitation();
    // How the program's join from an invitation given here ended; every
    // client hears it.
    void joinResult(bool joined, std::string_view why);
    // Whether joinResult follows a delivered invitation (the program takes
    // joins); clients then wait for it.
    void reportJoinResults(bool reported) { joinResultsReported = reported; }

    const ControlState& state() const { return shown; }

    // The lobby's members as the core reaches them now; a members request
    // is answered from the latest list.
    void setMembers(std::vector<MemberMessage> list) { members = std::move(list); }

    // The oldest invitation received and not yet taken; each one exactly once.
    std::optional<std::string> takeJoin();

    std::size_t clientCount() const { return connections.size(); }

    // Invitations held for the core before further ones are refused.
    static constexpr std::size_t maxWaitingJoins = 16;
    // Bytes held for a client that does not read before it is dropped.
    static constexpr std::size_t maxUnsentBytes = 64 * 1024;

private:
    struct Connection {
        sdk::os::OwnedHandle socket;
        LineReader reader{controlLimits::lineBytes};
        std::string unsent;
        bool closeWhenSent = false;
        bool watchingWrites = false;
    };

    void acceptAll();
    // Out of descriptors: the listener leaves the poll set, or the core would
    // wake for it without end; it comes back when one of ours is closed, or
    // a second later for the process's others.
    void pauseListening();
    void resumeListening();
    std::chrono::steady_clock::time_point resumeAt() const;
    void serve(sdk::os::Handle fd);
    void handleLine(Connection& connection, const std::string& line);
    void send(Connection& connection, std::string_view bytes);
    void flush(sdk::os::Handle fd);
    void updateWriteInterest(sdk::os::Handle fd, Connection& connection);
    void drop(sdk::os::Handle fd);
    void broadcast(std::string_view bytes);

    std::string socketPath;
    sdk::os::OwnedHandle listener;
    sdk::os::SocketWatch events;
    sdk::os::FileIdentity socketFile;
    std::map<sdk::os::Handle, Connection> connections;
    ControlState shown;
    std::vector<MemberMessage> members;
    bool stateChanged = false;
    bool invitationOpened = false;
    std::deque<std::string> joins;
    bool listening = true;
    bool joinResultsReported = false;
    std::chrono::steady_clock::time_point pausedAt{};
};
