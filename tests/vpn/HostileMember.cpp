// A member of a run's lobby that is not the program: it joins with an
// invitation through our SDK like any member, publishes itself, opens every
// member's peer, and then sends whatever it is told, so that tests can show
// what the runs refuse.
//
//   vaskor-hostile-member INVITATION
//
// Lines on standard input:
//   control TEXT          TEXT on the control channel to every member
//   udp SRC DST LENGTH    a well-formed UDP packet on the data channel to every member
//   raw ipv6|nonip|truncated
//                         an IPv6 packet, a non-IP message, or an IPv4 packet
//                         whose header claims more bytes than the message has
//   quit                  leaves the lobby and ends
// Prints "joined OWN-PEER-ID", "peer ID" for each member opened, "sent N LINE" and
// "done LINE" once a line is sent (N: the members whose peer took it), "control TEXT" and "data SRC
// DST LENGTH" (or "data LENGTH" for anything else) for what arrives, and "error TEXT" before
// exit 1.
#include "discord/Core.h"
#include "tests/support/Ipv4Packets.h"
#include "tests/support/LineProgram.h"

#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using testsupport::say;

std::string addressText(std::uint32_t address) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

std::vector<std::uint8_t> rawMessage(const std::string& kind) {
    if (kind == "ipv6") {
        // An IPv6 UDP packet to all nodes (ff02::1), 8 bytes of payload.
        std::vector<std::uint8_t> packet(48, 0);
        packet[0] = 0x60;
        packet[5] = 8;   // payload length
        packet[6] = 17;  // UDP
        packet[7] = 255; // hop limit
        packet[8] = 0xfe;
        packet[9] = 0x80;
        packet[23] = 0x77; // fe80::77
        packet[24] = 0xff;
        packet[25] = 0x02;
        packet[39] = 0x01; // ff02::1
        return packet;
    }
    if (kind == "nonip")
        return std::vector<std::uint8_t>(60, 0x11);
    if (kind == "truncated") {
        // The header says 200 bytes; the message carries 80 of them.
        std::vector<std::uint8_t> packet =
            udpPacket(ipv4Address("192.168.42.200"), ipv4Address("192.168.42.255"), 9, 9, 200, 1);
        packet.resize(80);
        return packet;
    }
    return {};
}

class HostileMember {
public:
    explicit HostileMember(std::unique_ptr<discord::Core> created) : core(std::move(created)) {
        core->NetworkManager().GetPeerId(&ownPeerId);
        core->NetworkManager().OnRouteUpdate.Connect([this](const char* text) {
            route = text;
            publish();
        });
        core->NetworkManager().OnMessage.Connect(
            [](discord::NetworkPeerId, discord::NetworkChannelId channel, std::uint8_t* data,
               std::uint32_t length) { report(channel, data, length); });
        core->LobbyManager().OnMemberUpdate.Connect(
            [this](discord::LobbyId, discord::UserId userId) { openMember(userId); });
        core->UserManager().OnCurrentUserUpdate.Connect(
            [this] { core->UserManager().GetCurrentUser(&user); });
    }

    void join(const std::string& invitation) {
        core->LobbyManager().ConnectLobbyWithActivitySecret(
            invitation.c_str(), [this](discord::Result result, const discord::Lobby& joined) {
                if (result != discord::Result::Ok) {
                    failure = "cannot join the lobby";
                    return;
                }
                lobby = joined;
                inLobby = true;
                say("joined " + std::to_string(ownPeerId));
                std::int32_t count = 0;
                core->LobbyManager().MemberCount(lobby.GetId(), &count);
                for (std::int32_t index = 0; index < count; ++index) {
                    discord::UserId userId = 0;
                    core->LobbyManager().GetMemberUserId(lobby.GetId(), index, &userId);
                    openMember(userId);
                }
                publish();
            });
    }

    void pass() {
        core->RunCallbacks();
        core->NetworkManager().Flush();
    }

    // One line of standard input; false for "quit".
    bool obey(const std::string& line) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        if (command == "quit")
            return false;
        std::size_t taken = 0;
        if (command == "control") {
            const std::string text = line.substr(std::string("control ").size());
            taken = sendToAll(1, std::vector<std::uint8_t>(text.begin(), text.end()));
        } else if (command == "udp") {
            std::string source, destination;
            std::size_t length = 0;
            words >> source >> destination >> length;
            taken =
                sendToAll(0, udpPacket(ipv4Address(source.c_str()),
                                       ipv4Address(destination.c_str()), 9, 9, length, ++sequence));
        } else if (command == "raw") {
            std::string kind;
            words >> kind;
            taken = sendToAll(0, rawMessage(kind));
        } else {
            say("error unknown command: " + line);
            return true;
        }
        core->NetworkManager().Flush();
        say("sent " + std::to_string(taken) + " " + line);
        say("done " + line);
        return true;
    }

    const std::string& failed() const { return failure; }

private:
    static void report(discord::NetworkChannelId channel, const std::uint8_t* data,
                       std::uint32_t length) {
        if (channel == 1) {
            say("control " + std::string(reinterpret_cast<const char*>(data), length));
            return;
        }
        if (const auto packet = summarise(data, length))
            say("data " + addressText(packet->source) + " " + addressText(packet->destination) +
                " " + std::to_string(length));
        else
            say("data " + std::to_string(length));
    }

    std::string metadata(discord::UserId userId, const char* key) {
        char value[4096] = {};
        core->LobbyManager().GetMemberMetadataValue(lobby.GetId(), userId, key, value);
        value[sizeof value - 1] = '\0';
        return value;
    }

    void openMember(discord::UserId userId) {
        if (!inLobby)
            return;
        const std::string peerText = metadata(userId, "$net.peer_id");
        const std::string peerRoute = metadata(userId, "$net.route");
        if (peerText.empty() || peerRoute.empty())
            return;
        char* end = nullptr;
        const discord::NetworkPeerId peerId = std::strtoull(peerText.c_str(), &end, 10);
        if (end == peerText.c_str() || *end != '\0' || peerId == ownPeerId)
            return;
        if (!peers.insert(peerId).second) {
            core->NetworkManager().UpdatePeer(peerId, peerRoute.c_str());
            return;
        }
        core->NetworkManager().OpenPeer(peerId, peerRoute.c_str());
        core->NetworkManager().OpenChannel(peerId, 0, false);
        core->NetworkManager().OpenChannel(peerId, 1, true);
        say("peer " + peerText);
    }

    void publish() {
        if (!inLobby || route.empty())
            return;
        discord::LobbyMemberTransaction transaction;
        core->LobbyManager().GetMemberUpdateTransaction(lobby.GetId(), user.GetId(), &transaction);
        transaction.SetMetadata("$net.peer_id", std::to_string(ownPeerId).c_str());
        transaction.SetMetadata("$net.route", route.c_str());
        core->LobbyManager().UpdateMember(lobby.GetId(), user.GetId(), transaction,
                                          [](discord::Result) {});
    }

    // How many members' peers took the message.
    std::size_t sendToAll(discord::NetworkChannelId channel,
                          const std::vector<std::uint8_t>& message) {
        std::size_t taken = 0;
        for (discord::NetworkPeerId peerId : peers)
            taken += core->NetworkManager().SendMessage(
                         peerId, channel, message.data(),
                         static_cast<std::uint32_t>(message.size())) == discord::Result::Ok;
        return taken;
    }

    std::unique_ptr<discord::Core> core;
    discord::NetworkPeerId ownPeerId = 0;
    discord::User user;
    discord::Lobby lobby;
    bool inLobby = false;
    std::string route;
    std::set<discord::NetworkPeerId> peers;
    std::uint32_t sequence = 0;
    std::string failure;
};

// The complete lines standard input has ready.
std::vector<std::string> readyLines(std::string& pending, bool& closed) {
    std::vector<std::string> lines;
    pollfd in{STDIN_FILENO, POLLIN, 0};
    if (poll(&in, 1, 0) <= 0 || !(in.revents & (POLLIN | POLLHUP)))
        return lines;
    char buffer[1024];
    const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
    if (got <= 0) {
        closed = true;
        return lines;
    }
    pending.append(buffer, static_cast<std::size_t>(got));
    for (auto end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
        lines.push_back(pending.substr(0, end));
        pending.erase(0, end + 1);
    }
    return lines;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s INVITATION\n", argv[0]);
        return 2;
    }
    testsupport::stopOnSignals();
    discord::Core* created = nullptr;
    if (discord::Core::Create(1, 1, &created) != discord::Result::Ok || !created) {
        say("error cannot create the SDK core");
        return 1;
    }
    HostileMember member{std::unique_ptr<discord::Core>(created)};
    member.join(argv[1]);
    std::string pending;
    bool closed = false;
    while (!testsupport::stopRequested() && !closed) {
        member.pass();
        if (!member.failed().empty()) {
            say("error " + member.failed());
            return 1;
        }
        for (const std::string& line : readyLines(pending, closed))
            if (!member.obey(line))
                closed = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    say("stopped");
    return 0;
}
