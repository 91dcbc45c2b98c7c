#include "sdk/control/ControlClient.h"

#include "sdk/control/ControlError.h"
#include "sdk/control/UnixSocket.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace {

std::string connectFailure(const std::string& path, int error) {
    switch (error) {
    case ENOENT:
        return "no game SDK core listens at " + path + " (is the program running?)";
    case ECONNREFUSED:
        return "the game SDK core of " + path + " is gone (the socket file was left behind)";
    case EACCES:
    case EPERM:
        return "permission denied for " + path + ": it belongs to another user";
    case ENAMETOOLONG:
        return "the path is too long for a socket: " + path;
    case ETIMEDOUT:
        return "the game SDK core at " + path +
               " did not take the connection in time (the program may be stuck)";
    default:
        return "cannot connect to " + path + ": " + std::strerror(error);
    }
}

} // namespace

ControlClient::ControlClient(const std::string& path, std::chrono::milliseconds timeout)
    : socket(connectUnixSocketWithin(path, timeout)) {
    if (!socket.valid())
        throw ControlError(connectFailure(path, errno));
    setNonBlocking(socket.get());
}

bool ControlClient::poll() {
    flush();
    char buffer[4096];
    while (socket.valid()) {
        const ssize_t got = ::recv(socket.get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            break;
        if (got <= 0) {
            close(lastError.empty() ? "the game SDK core closed the connection" : lastError);
            break;
        }
        reader.append(std::string_view(buffer, static_cast<std::size_t>(got)));
        while (socket.valid()) {
            const auto line = reader.next();
            if (!line)
                break;
            handleLine(*line);
        }
        if (reader.overflowed())
            close("the game SDK core sent a line that is too long");
    }
    return socket.valid();
}

bool ControlClient::waitAndPoll(std::chrono::milliseconds timeout) {
    if (!socket.valid())
        return false;
    pollfd waiting{socket.get(), static_cast<short>(POLLIN | (unsent.empty() ? 0 : POLLOUT)), 0};
    ::poll(&waiting, 1, static_cast<int>(timeout.count()));
    return poll();
}

void ControlClient::sendJoin(std::string_view invitation) {
    unsent += encodeJoinRequest(JoinRequest{std::string(invitation)});
    flush();
}

std::optional<ControlAnswer> ControlClient::takeAnswer() {
    if (answers.empty())
        return std::nullopt;
    ControlAnswer answer = std::move(answers.front());
    answers.pop_front();
    return answer;
}

void ControlClient::handleLine(const std::string& line) {
    const Decoded<ServerMessage> decoded = decodeServerMessage(line);
    if (!decoded.message)
        return; // a later core may say more than this client knows
    const ServerMessage& message = *decoded.message;
    if (const auto* error = std::get_if<ErrorMessage>(&message)) {
        lastError = error->text;
        answers.push_back({false, error->text});
        return;
    }
    if (!greeted) {
        const auto* hello = std::get_if<HelloMessage>(&message);
        if (!hello)
            return close("this is not a game SDK control socket");
        if (hello->version != controlProtocolVersion)
            return close("the game SDK core speaks control protocol version " +
                         std::to_string(hello->version) + ", this program version " +
                         std::to_string(controlProtocolVersion));
        greeted = true;
        return;
    }
    if (const auto* user = std::get_if<UserMessage>(&message))
        incoming.userName = user->name;
    else if (const auto* activity = std::get_if<ActivityMessage>(&message))
        incoming.activityState = activity->state;
    else if (const auto* party = std::get_if<PartyMessage>(&message)) {
        incoming.partySize = party->size;
        incoming.partyCapacity = party->capacity;
    } else if (const auto* invitation = std::get_if<InvitationMessage>(&message))
        incoming.invitation = invitation->text;
    else if (std::holds_alternative<StateEndMessage>(message)) {
        current = incoming;
        stateComplete = stateChanged = true;
    } else if (std::holds_alternative<OpenInviteMessage>(message))
        invitationOpened = true;
    else if (std::holds_alternative<OkMessage>(message))
        answers.push_back({true, {}});
    else if (const auto* result = std::get_if<JoinResultMessage>(&message)) {
        joinResult = *result;
        joinPending = false;
    } else if (std::holds_alternative<JoinPendingMessage>(message))
        joinPending = true;
}

void ControlClient::flush() {
    while (socket.valid() && !unsent.empty()) {
        const ssize_t sent =
            ::send(socket.get(), unsent.data(), unsent.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return;
        if (sent < 0)
            return close("the game SDK core closed the connection");
        unsent.erase(0, static_cast<std::size_t>(sent));
    }
}

void ControlClient::close(std::string reason) {
    socket.reset();
    ended = std::move(reason);
}
