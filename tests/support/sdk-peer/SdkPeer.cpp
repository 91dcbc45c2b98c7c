// vaskor-sdk-peer: one game SDK core on loopback that hosts or joins a lobby
// of two and exchanges a message each way on an unreliable and a reliable
// channel. Built for Linux and for Windows, so that a Linux core and a
// Windows core under Wine meet over one wire protocol.
//
//   vaskor-sdk-peer host [ADDRESS] prints "secret <join secret>", then waits for a member
//   vaskor-sdk-peer join SECRET
//
// On loopback with no port mapping, unless the caller's environment sets the
// SDK's addresses and port mapping. With ADDRESS (a home router's public
// address, port mapping on) the host first waits until its route names a
// mapping at that address first and prints "mapped <endpoint>", so that the
// secret it prints then is the invitation a friend would get.
//
// Each side puts its peer id and route into its member metadata, opens the
// other from there, and ends with status 0 once both directions carried both
// channels, or 1 with what was missing after the time-out.

#include "discord/Core.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using discord::Result;

constexpr auto timeLimit = 30s;

// A setting the caller's environment has not made already.
void defaultEnvironment(const char* name, const char* value) {
    if (std::getenv(name))
        return;
#ifdef _WIN32
    _putenv_s(name, value);
#else
    setenv(name, value, 1);
#endif
}

// The route's first endpoint ("vr1 <key> <endpoint> ..."), if any.
std::string firstEndpoint(const std::string& route) {
    const auto keyEnd = route.find(' ', 4);
    if (!route.starts_with("vr1 ") || keyEnd == std::string::npos)
        return {};
    return route.substr(keyEnd + 1, route.find(' ', keyEnd + 1) - keyEnd - 1);
}

class Peer {
public:
    Peer(std::unique_ptr<discord::Core> owned, std::string role)
        : core(std::move(owned)), role(std::move(role)) {
        core->NetworkManager().GetPeerId(&peerId);
        core->NetworkManager().OnRouteUpdate.Connect([this](const char* text) { route = text; });
        core->NetworkManager().OnMessage.Connect([this](discord::NetworkPeerId,
                                                        discord::NetworkChannelId channel,
                                                        std::uint8_t* data, std::uint32_t length) {
            const std::string text(reinterpret_cast<const char*>(data), length);
            if (text == "from " + otherRole())
                (channel == 0 ? gotUnreliable : gotReliable) = true;
        });
    }

    discord::LobbyManager& lobbies() { return core->LobbyManager(); }

    std::string otherRole() const { return role == "host" ? "join" : "host"; }

    // One pass; false once the time is up.
    bool pass() {
        core->RunCallbacks();
        core->NetworkManager().Flush();
        std::this_thread::sleep_for(1ms);
        return std::chrono::steady_clock::now() < deadline;
    }

    std::optional<std::string> metadataOf(discord::UserId user, const char* key) {
        char value[discordMetadataValueSize] = {};
        if (lobbies().GetMemberMetadataValue(lobby, user, key, value) != Result::Ok)
            return std::nullopt;
        return std::string(value);
    }

    void publish(const char* key, const std::string& value) {
        discord::LobbyMemberTransaction transaction;
        lobbies().GetMemberUpdateTransaction(lobby, userId, &transaction);
        transaction.SetMetadata(key, value.c_str());
        lobbies().UpdateMember(lobby, userId, transaction, [](Result) {});
    }

    std::optional<discord::UserId> otherMember() {
        std::int32_t count = 0;
        lobbies().MemberCount(lobby, &count);
        for (std::int32_t i = 0; i < count; ++i) {
            discord::UserId id = 0;
            if (lobbies().GetMemberUserId(lobby, i, &id) == Result::Ok && id != userId)
                return id;
        }
        return std::nullopt;
    }

    int exchange() {
        while (route.empty())
            if (!pass())
                return fail("no route of our own");
        publish("peer", std::to_string(peerId));
        publish("route", route);
        std::optional<discord::UserId> other;
        std::optional<std::string> otherPeer, otherRoute;
        while (!other || !otherPeer || !otherRoute) {
            if (!pass())
                return fail("the other member never showed its route");
            other = otherMember();
            if (other) {
                otherPeer = metadataOf(*other, "peer");
                otherRoute = metadataOf(*other, "route");
            }
        }
        const auto target = static_cast<discord::NetworkPeerId>(std::stoull(*otherPeer));
        auto& network = core->NetworkManager();
        if (network.OpenPeer(target, otherRoute->c_str()) != Result::Ok ||
            network.OpenChannel(target, 0, false) != Result::Ok ||
            network.OpenChannel(target, 1, true) != Result::Ok)
            return fail("cannot open the other member as a peer");
        const std::string message = "from " + role;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(message.data());
        const auto size = static_cast<std::uint32_t>(message.size());
        network.SendMessage(target, 1, bytes, size);
        bool announced = false;
        for (;;) {
            if (!pass())
                return fail("the other side's messages did not all arrive");
            if (!announced)
                network.SendMessage(target, 0, bytes, size); // until the other has it
            if (gotReliable && gotUnreliable && !announced) {
                publish("done", "1");
                announced = true;
            }
            if (announced && metadataOf(*other, "done") == "1")
                break;
        }
        // A clean leave once the other side needs nothing more of us: it said
        // so, or it has gone (the host's leaving takes the lobby with it).
        publish("bye", "1");
        while (otherMember() && metadataOf(*other, "bye") != "1")
            if (!pass())
                return fail("the other side never said goodbye");
        std::printf("%s: exchanged both channels both ways\n", role.c_str());
        return 0;
    }

    int fail(const char* what) {
        std::fprintf(stderr, "%s: %s (reliable %s, unreliable %s)\n", role.c_str(), what,
                     gotReliable ? "arrived" : "missing", gotUnreliable ? "arrived" : "missing");
        return 1;
    }

    std::unique_ptr<discord::Core> core;
    std::string role;
    discord::NetworkPeerId peerId = 0;
    discord::UserId userId = 0;
    discord::LobbyId lobby = 0;
    std::string route;
    bool gotReliable = false;
    bool gotUnreliable = false;
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::now() + timeLimit;
};

int usage() {
    std::fprintf(stderr, "usage: vaskor-sdk-peer host [ADDRESS] | vaskor-sdk-peer join SECRET\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return usage();
    const std::string role = argv[1];
    if (!(role == "host" && argc <= 3) && !(role == "join" && argc == 3))
        return usage();
    const std::string mappedAt = role == "host" && argc == 3 ? argv[2] : "";
    // Loopback only, no router asked for a port, unless the caller says
    // otherwise; never a client window.
    defaultEnvironment("VASKOR_SDK_ADDRESSES", "127.0.0.1");
    defaultEnvironment("VASKOR_SDK_PORT_MAPPING", mappedAt.empty() ? "off" : "on");
    defaultEnvironment("VASKOR_SDK_CLIENT", "0");
    discord::Core* created = nullptr;
    if (discord::Core::Create(1, 1, &created) != Result::Ok || !created) {
        std::fprintf(stderr, "%s: the game SDK core could not be created\n", role.c_str());
        return 1;
    }
    Peer peer(std::unique_ptr<discord::Core>(created), role);
    discord::User user;
    peer.core->UserManager().GetCurrentUser(&user);
    peer.userId = user.GetId();

    std::optional<Result> joined;
    const auto onLobby = [&](Result result, const discord::Lobby& lobby) {
        joined = result;
        peer.lobby = lobby.GetId();
    };
    if (role == "host") {
        discord::LobbyTransaction transaction;
        peer.lobbies().GetLobbyCreateTransaction(&transaction);
        transaction.SetCapacity(2);
        transaction.SetType(discord::LobbyType::Private);
        peer.lobbies().CreateLobby(transaction, onLobby);
    } else {
        peer.lobbies().ConnectLobbyWithActivitySecret(argv[2], onLobby);
    }
    while (!joined)
        if (!peer.pass())
            return peer.fail("the lobby was neither made nor joined");
    if (*joined != Result::Ok)
        return peer.fail("the lobby was refused");
    if (!mappedAt.empty()) {
        while (!firstEndpoint(peer.route).starts_with(mappedAt + ":"))
            if (!peer.pass())
                return peer.fail("the route never named a mapping at the router's address");
        std::printf("mapped %s\n", firstEndpoint(peer.route).c_str());
    }
    if (role == "host") {
        char secret[discordTextSize] = {};
        peer.lobbies().GetLobbyActivitySecret(peer.lobby, secret);
        std::printf("secret %s\n", secret);
        std::fflush(stdout);
    }
    return peer.exchange();
}
