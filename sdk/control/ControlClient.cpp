#include "sdk/control/ControlClient.h"

#include "sdk/control/ControlError.h"
#include "sdk/os/LocalSocket.h"

namespace os = sdk::os;

namespace {

std::string connectFailure(const std::string& path, std::error_code error) {
    if (error == std::errc::no_such_file_or_directory)
        return "no game SDK core listens at " + path + " (is the program running?)";
    if (error == std::errc::connection_refused)
        return "the game SDK core of " + path + " is gone (the socket file was left behind)";
    if (error == std::errc::permission_denied || error == std::errc::operation_not_permitted)
        return "permission denied for " + path + ": it belongs to another user";
    if (error == std::errc::filename_too_long)
        return "the path is too long for a socket: " + path;
    if (error == std::errc::timed_out)
        return "the game SDK core at " + path +
               " did not take the connection in time (the program may be stuck)";
    return "cannot connect to " + path + ": " + error.message();
}

os::OwnedHandle connectOrThrow(const std::string& path, std::chrono::milliseconds timeout) {
    std::error_code error;
    os::OwnedHandle socket = os::connectLocalSocketWithin(path, timeout, error);
    if (!socket.valid())
        throw ControlError(connectFailure(path, error));
    return socket;
}

} // namespace

ControlClient::ControlClient(const std::string& path, std::chrono::milliseconds timeout)
    : socket(connectOrThrow(path, timeout)) {
    os::setNonBlocking(socket.get());
}

bool ControlClient::poll() {
    flush();
    char buffer[4096];
    while (socket.valid()) {
        const os::Transfer got = os::receiveSome(socket.get(), buffer);
        if (got.status == os::Transfer::Status::wouldBlock)
            break;
        if (got.status == os::Transfer::Status::ended) {
            close(lastError.empty() ? "the game SDK core closed the connection" : lastError);
            break;
        }
        reader.append(std::string_view(buffer, got.bytes));
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
    os::waitForSocket(socket.get(), !unsent.empty(), timeout);
    return poll();
}

void ControlClient::sendJoin(std::string_view invitation) {
    unsent += encodeJoinRequest(JoinRequest{std::string(invitation)});
    pendingMembers.push_back(false);
    flush();
}

void ControlClient::askMembers() {
    unsent += encodeMembersRequest();
    pendingMembers.push_back(true);
    flush();
}

// The answer to a request ends it; a members answer's lines came before.
bool ControlClient::answerEndsMembers() {
    if (pendingMembers.empty())
        return false;
    const bool members = pendingMembers.front();
    pendingMembers.pop_front();
    return members;
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
        if (greeted && answerEndsMembers())
            incomingMembers.clear();
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
    } else if (const auto* party = std::get_if<PartyIdMessage>(&message))
        incoming.partyId = party->id;
    else if (const auto* invitation = std::get_if<InvitationMessage>(&message))
        incoming.invitation = invitation->text;
    else if (std::holds_alternative<StateEndMessage>(message)) {
        current = incoming;
        stateComplete = stateChanged = true;
    } else if (std::holds_alternative<OpenInviteMessage>(message))
        invitationOpened = true;
    else if (std::holds_alternative<OkMessage>(message)) {
        if (answerEndsMembers())
            memberList = std::exchange(incomingMembers, {});
        else
            answers.push_back({true, {}});
    } else if (const auto* member = std::get_if<MemberMessage>(&message)) {
        if (incomingMembers.size() < maxMembers)
            incomingMembers.push_back(*member);
    } else if (const auto* result = std::get_if<JoinResultMessage>(&message)) {
        joinResult = *result;
        joinPending = false;
    } else if (std::holds_alternative<JoinPendingMessage>(message))
        joinPending = true;
}

void ControlClient::flush() {
    while (socket.valid() && !unsent.empty()) {
        const os::Transfer sent = os::sendSome(socket.get(), unsent);
        if (sent.status == os::Transfer::Status::wouldBlock)
            return;
        if (sent.status == os::Transfer::Status::ended)
            return close("the game SDK core closed the connection");
        unsent.erase(0, sent.bytes);
    }
}

void ControlClient::close(std::string reason) {
    socket.reset();
    ended = std::move(reason);
}
