#include "sdk/control/ControlServer.h"

#include "sdk/control/ControlError.h"
#include "sdk/control/ControlSocketPath.h"

#include <algorithm>
#include <array>
#include <vector>

namespace os = sdk::os;

namespace {

// Per poll() and connection, so that one busy client cannot hold the core up.
constexpr std::size_t readChunk = 4096;
constexpr int chunksPerPoll = 4;

std::string answer(const ServerMessage& message) {
    return encodeServerMessage(message);
}

os::OwnedHandle listenOrThrow(const std::string& path) {
    std::string failure;
    os::OwnedHandle listener = os::listenLocalSocket(path, failure);
    if (!listener.valid())
        throw ControlError(failure);
    return listener;
}

bool outOfDescriptors(std::error_code error) {
    return error == std::errc::too_many_files_open ||
           error == std::errc::too_many_files_open_in_system ||
           error == std::errc::no_buffer_space || error == std::errc::not_enough_memory;
}

} // namespace

ControlServer::ControlServer(std::string path) : ControlServer(listenOrThrow(path), path) {}

ControlServer::ControlServer(os::OwnedHandle listening, std::string path)
    : socketPath(std::move(path)), listener(std::move(listening)) {
    std::error_code error = events.failure();
    const auto identity =
        events.valid() ? os::fileIdentity(socketPath, error) : std::optional<os::FileIdentity>();
    if (!identity) {
        os::removeSocketFile(socketPath);
        throw ControlError("cannot set up the control socket " + socketPath + ": " +
                           error.message());
    }
    socketFile = *identity;
    events.add(listener.get());
}

ControlServer::~ControlServer() {
    connections.clear();
    listener.reset();
    // Only our own socket file: a later core may have taken the path over.
    os::removeSocketFile(socketPath, socketFile);
    removeControlSocketDirectoryIfEmpty(socketPath);
}

void ControlServer::setUserName(std::string_view name) {
    const std::string clean = sanitizeText(name, controlLimits::textBytes);
    stateChanged |= shown.userName != clean;
    shown.userName = clean;
}

void ControlServer::setActivity(std::string_view state, std::int32_t partySize,
                                std::int32_t partyCapacity, std::string_view partyId) {
    const auto clamp = [](std::int32_t members) {
        return std::clamp<std::int32_t>(members, 0, controlLimits::partyMembers);
    };
    ControlState next = shown;
    next.activityState = sanitizeText(state, controlLimits::textBytes);
    next.partySize = clamp(partySize);
    next.partyCapacity = clamp(partyCapacity);
    next.partyId = sanitizeText(partyId, controlLimits::textBytes);
    stateChanged |= next != shown;
    shown = std::move(next);
}

void ControlServer::openInvitation(std::string_view invitation) {
    const std::string clean = sanitizeText(invitation, controlLimits::invitationBytes);
    stateChanged |= shown.invitation != clean;
    shown.invitation = clean;
    invitationOpened = true;
}

void ControlServer::prepareInvitation() {
    clearInvitation();
    invitationOpened = true;
}

void ControlServer::clearInvitation() {
    stateChanged |= !shown.invitation.empty();
    shown.invitation.clear();
}

void ControlServer::joinResult(bool joined, std::string_view why) {
    broadcast(encodeServerMessage(JoinResultMessage{joined, std::string(why)}));
}

std::optional<std::string> ControlServer::takeJoin() {
    if (joins.empty())
        return std::nullopt;
    std::string invitation = std::move(joins.front());
    joins.pop_front();
    return invitation;
}

void ControlServer::poll() {
    if (!listening && std::chrono::steady_clock::now() >= resumeAt())
        resumeListening();
    std::array<os::Handle, 32> ready{};
    const std::size_t count = events.takeReady(ready);
    for (std::size_t i = 0; i < count; ++i) {
        if (ready[i] == listener.get())
            acceptAll();
        else
            serve(ready[i]);
    }
    if (stateChanged)
        broadcast(encodeState(shown));
    if (invitationOpened)
        broadcast(answer(OpenInviteMessage{}));
    stateChanged = invitationOpened = false;

    std::vector<os::Handle> open;
    for (const auto& [fd, connection] : connections)
        open.push_back(fd);
    for (const os::Handle fd : open)
        flush(fd);
}

void ControlServer::acceptAll() {
    for (;;) {
        std::error_code error;
        os::OwnedHandle socket = os::acceptLocalSocket(listener.get(), error);
        if (!socket.valid()) {
            if (outOfDescriptors(error))
                pauseListening();
            return;
        }
        if (!os::peerIsThisUser(socket.get())) {
            const std::string refusal =
                answer(ErrorMessage{"refused: this control socket belongs to another user"});
            os::sendSome(socket.get(), refusal);
            continue;
        }
        const os::Handle fd = socket.get();
        if (!events.add(fd))
            continue;
        Connection& connection = connections[fd];
        connection.socket = std::move(socket);
        send(connection, answer(HelloMessage{}));
        send(connection, encodeState(shown));
    }
}

std::optional<std::chrono::steady_clock::time_point> ControlServer::nextDeadline() const {
    if (listening)
        return std::nullopt;
    return resumeAt();
}

std::chrono::steady_clock::time_point ControlServer::resumeAt() const {
    return pausedAt + std::chrono::seconds(1);
}

void ControlServer::pauseListening() {
    if (!listening)
        return;
    events.remove(listener.get());
    listening = false;
    pausedAt = std::chrono::steady_clock::now();
}

void ControlServer::resumeListening() {
    if (listening)
        return;
    listening = events.add(listener.get());
    if (!listening)
        pausedAt = std::chrono::steady_clock::now();
}

void ControlServer::serve(os::Handle fd) {
    const auto found = connections.find(fd);
    if (found == connections.end())
        return;
    Connection& connection = found->second;
    if (connection.closeWhenSent)
        return;
    bool peerClosed = false;
    char buffer[readChunk];
    for (int chunk = 0; chunk < chunksPerPoll; ++chunk) {
        const os::Transfer got = os::receiveSome(fd, buffer);
        if (got.status == os::Transfer::Status::ended) {
            peerClosed = true;
            break;
        }
        if (got.status == os::Transfer::Status::wouldBlock)
            break;
        connection.reader.append(std::string_view(buffer, got.bytes));
        while (const auto line = connection.reader.next())
            handleLine(connection, *line);
        if (connection.reader.overflowed()) {
            send(connection, answer(ErrorMessage{"message too long (at most " +
                                                 std::to_string(controlLimits::lineBytes) +
                                                 " bytes in a line); closing"}));
            connection.closeWhenSent = true;
            os::stopReading(fd);
            break;
        }
    }
    if (peerClosed)
        drop(fd);
}

void ControlServer::handleLine(Connection& connection, const std::string& line) {
    const Decoded<ClientRequest> request = decodeClientRequest(line);
    if (!request.message) {
        send(connection, answer(ErrorMessage{request.error}));
        return;
    }
    if (std::holds_alternative<MembersRequest>(*request.message)) {
        for (const auto& member : members)
            send(connection, answer(member));
        send(connection, answer(OkMessage{}));
        return;
    }
    const std::string& invitation = std::get<JoinRequest>(*request.message).invitation;
    if (const auto problem = invitationProblem(invitation)) {
        send(connection, answer(ErrorMessage{*problem}));
        return;
    }
    if (joins.size() >= maxWaitingJoins) {
        send(connection, answer(ErrorMessage{"too many invitations waiting; try again"}));
        return;
    }
    joins.push_back(invitation);
    if (joinResultsReported)
        send(connection, answer(JoinPendingMessage{}));
    send(connection, answer(OkMessage{}));
}

void ControlServer::send(Connection& connection, std::string_view bytes) {
    connection.unsent += bytes;
}

void ControlServer::broadcast(std::string_view bytes) {
    for (auto& [fd, connection] : connections)
        if (!connection.closeWhenSent)
            send(connection, bytes);
}

void ControlServer::flush(os::Handle fd) {
    Connection& connection = connections.at(fd);
    while (!connection.unsent.empty()) {
        const os::Transfer sent = os::sendSome(fd, connection.unsent);
        if (sent.status == os::Transfer::Status::wouldBlock)
            break;
        if (sent.status == os::Transfer::Status::ended) {
            drop(fd);
            return;
        }
        connection.unsent.erase(0, sent.bytes);
    }
    if ((connection.unsent.empty() && connection.closeWhenSent) ||
        connection.unsent.size() > maxUnsentBytes) {
        drop(fd);
        return;
    }
    updateWriteInterest(fd, connection);
}

void ControlServer::updateWriteInterest(os::Handle fd, Connection& connection) {
    const bool wanted = !connection.unsent.empty();
    if (wanted == connection.watchingWrites)
        return;
    events.watchWrites(fd, wanted);
    connection.watchingWrites = wanted;
}

void ControlServer::drop(os::Handle fd) {
    events.remove(fd);
    connections.erase(fd);
    resumeListening(); // a descriptor is free again
}
