#include "sdk/control/ControlServer.h"

#include "sdk/control/ControlError.h"
#include "sdk/control/UnixSocket.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

// Per poll() and connection, so that one busy client cannot hold the core up.
constexpr std::size_t readChunk = 4096;
constexpr int chunksPerPoll = 4;

std::string answer(const ServerMessage& message) {
    return encodeServerMessage(message);
}

} // namespace

ControlServer::ControlServer(std::string path)
    : socketPath(std::move(path)), listener(listenUnixSocket(socketPath)),
      events(::epoll_create1(EPOLL_CLOEXEC)) {
    struct stat info {};
    if (!events.valid() || ::stat(socketPath.c_str(), &info) != 0) {
        const std::string reason = std::strerror(errno);
        ::unlink(socketPath.c_str());
        throw ControlError("cannot set up the control socket " + socketPath + ": " + reason);
    }
    socketDevice = info.st_dev;
    socketInode = info.st_ino;
    epoll_event interest{};
    interest.events = EPOLLIN;
    interest.data.fd = listener.get();
    ::epoll_ctl(events.get(), EPOLL_CTL_ADD, listener.get(), &interest);
}

ControlServer::~ControlServer() {
    connections.clear();
    listener.reset();
    // Only our own socket file: a later core may have taken the path over.
    struct stat info {};
    if (::lstat(socketPath.c_str(), &info) == 0 && info.st_dev == socketDevice &&
        info.st_ino == socketInode)
        ::unlink(socketPath.c_str());
}

void ControlServer::setUserName(std::string_view name) {
    const std::string clean = sanitizeText(name, controlLimits::textBytes);
    stateChanged |= shown.userName != clean;
    shown.userName = clean;
}

void ControlServer::setActivity(std::string_view state, std::int32_t partySize,
                                std::int32_t partyCapacity) {
    const auto clamp = [](std::int32_t members) {
        return std::clamp<std::int32_t>(members, 0, controlLimits::partyMembers);
    };
    ControlState next = shown;
    next.activityState = sanitizeText(state, controlLimits::textBytes);
    next.partySize = clamp(partySize);
    next.partyCapacity = clamp(partyCapacity);
    stateChanged |= next != shown;
    shown = std::move(next);
}

void ControlServer::openInvitation(std::string_view invitation) {
    const std::string clean = sanitizeText(invitation, controlLimits::invitationBytes);
    stateChanged |= shown.invitation != clean;
    shown.invitation = clean;
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
    if (!listening && std::chrono::steady_clock::now() - pausedAt >= std::chrono::seconds(1))
        resumeListening();
    epoll_event ready[32];
    const int count = ::epoll_wait(events.get(), ready, 32, 0);
    for (int i = 0; i < count; ++i) {
        if (ready[i].data.fd == listener.get())
            acceptAll();
        else
            serve(ready[i].data.fd);
    }
    if (stateChanged)
        broadcast(encodeState(shown));
    if (invitationOpened)
        broadcast(answer(OpenInviteMessage{}));
    stateChanged = invitationOpened = false;

    std::vector<int> open;
    for (const auto& [fd, connection] : connections)
        open.push_back(fd);
    for (const int fd : open)
        flush(fd);
}

void ControlServer::acceptAll() {
    for (;;) {
        FileDescriptor socket(
            ::accept4(listener.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!socket.valid()) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                pauseListening();
            return;
        }
        uid_t uid = 0;
        if (!peerUserId(socket.get(), uid) || uid != ::geteuid()) {
            const std::string refusal =
                answer(ErrorMessage{"refused: this control socket belongs to another user"});
            ::send(socket.get(), refusal.data(), refusal.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            continue;
        }
        const int fd = socket.get();
        epoll_event interest{};
        interest.events = EPOLLIN | EPOLLRDHUP;
        interest.data.fd = fd;
        if (::epoll_ctl(events.get(), EPOLL_CTL_ADD, fd, &interest) != 0)
            continue;
        Connection& connection = connections[fd];
        connection.socket = std::move(socket);
        send(connection, answer(HelloMessage{}));
        send(connection, encodeState(shown));
    }
}

void ControlServer::pauseListening() {
    if (!listening)
        return;
    ::epoll_ctl(events.get(), EPOLL_CTL_DEL, listener.get(), nullptr);
    listening = false;
    pausedAt = std::chrono::steady_clock::now();
}

void ControlServer::resumeListening() {
    if (listening)
        return;
    epoll_event interest{};
    interest.events = EPOLLIN;
    interest.data.fd = listener.get();
    ::epoll_ctl(events.get(), EPOLL_CTL_ADD, listener.get(), &interest);
    listening = true;
}

void ControlServer::serve(int fd) {
    const auto found = connections.find(fd);
    if (found == connections.end())
        return;
    Connection& connection = found->second;
    if (connection.closeWhenSent)
        return;
    bool peerClosed = false;
    char buffer[readChunk];
    for (int chunk = 0; chunk < chunksPerPoll; ++chunk) {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            peerClosed = true;
            break;
        }
        if (got < 0)
            break;
        connection.reader.append(std::string_view(buffer, static_cast<std::size_t>(got)));
        while (const auto line = connection.reader.next())
            handleLine(connection, *line);
        if (connection.reader.overflowed()) {
            send(connection, answer(ErrorMessage{"message too long (at most " +
                                                 std::to_string(controlLimits::lineBytes) +
                                                 " bytes in a line); closing"}));
            connection.closeWhenSent = true;
            ::shutdown(fd, SHUT_RD);
            break;
        }
    }
    if (peerClosed)
        drop(fd);
}

void ControlServer::handleLine(Connection& connection, const std::string& line) {
    const Decoded<JoinRequest> request = decodeJoinRequest(line);
    if (!request.message) {
        send(connection, answer(ErrorMessage{request.error}));
        return;
    }
    const std::string& invitation = request.message->invitation;
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

void ControlServer::flush(int fd) {
    Connection& connection = connections.at(fd);
    while (!connection.unsent.empty()) {
        const ssize_t sent = ::send(fd, connection.unsent.data(), connection.unsent.size(),
                                    MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            break;
        if (sent < 0) {
            drop(fd);
            return;
        }
        connection.unsent.erase(0, static_cast<std::size_t>(sent));
    }
    if ((connection.unsent.empty() && connection.closeWhenSent) ||
        connection.unsent.size() > maxUnsentBytes) {
        drop(fd);
        return;
    }
    updateWriteInterest(fd, connection);
}

void ControlServer::updateWriteInterest(int fd, Connection& connection) {
    const bool wanted = !connection.unsent.empty();
    if (wanted == connection.watchingWrites)
        return;
    epoll_event interest{};
    interest.events = EPOLLIN | EPOLLRDHUP | (wanted ? EPOLLOUT : 0u);
    interest.data.fd = fd;
    ::epoll_ctl(events.get(), EPOLL_CTL_MOD, fd, &interest);
    connection.watchingWrites = wanted;
}

void ControlServer::drop(int fd) {
    ::epoll_ctl(events.get(), EPOLL_CTL_DEL, fd, nullptr);
    connections.erase(fd);
    resumeListening(); // a descriptor is free again
}
