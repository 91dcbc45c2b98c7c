#pragma once

// Helpers for tests of the transport alone: an event recorder, loopback
// transports, a raw UDP socket, and a pump.

#include "sdk/transport/Transport.h"
#include "tests/support/PumpUntil.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace transporttest {

using namespace sdk::transport;

struct Delivered {
    PeerId peer = 0;
    Channel channel;
    std::vector<std::uint8_t> bytes;
};

class Recorder : public TransportEvents {
public:
    void onMessage(PeerId peer, Channel channel, std::span<const std::uint8_t> bytes) override {
        messages.push_back(Delivered{peer, channel, {bytes.begin(), bytes.end()}});
    }
    void onPeerConnected(PeerId peer) override { connected.push_back(peer); }
    void onPeerLost(PeerId peer) override { lost.push_back(peer); }
    void onRouteChanged(const std::string& text) override { route = text; }

    std::vector<Delivered> messages;
    std::vector<PeerId> connected;
    std::vector<PeerId> lost;
    std::string route;
};

struct TransportNode {
    std::unique_ptr<Transport> transport;
    Recorder events;
    void poll() { transport->poll(events); }
};

inline TransportSettings loopbackSettings(Milliseconds timeout = Milliseconds(10000)) {
    TransportSettings settings;
    settings.announcedAddresses = {INADDR_LOOPBACK};
    settings.peerTimeout = timeout;
    settings.keepAliveInterval = Milliseconds(100);
    settings.handshakeRetry = Milliseconds(100);
    return settings;
}

inline std::unique_ptr<TransportNode> makeNode(TransportSettings settings = loopbackSettings()) {
    auto node = std::make_unique<TransportNode>();
    node->transport = std::make_unique<Transport>(settings);
    return node;
}

inline void pumpOnce(TransportNode& node) {
    node.poll();
}

using testsupport::pumpUntil;

// A plain UDP socket on loopback for sending what a stranger would send;
// another loopback address (127.0.0.2) makes it another source.
class RawSocket {
public:
    explicit RawSocket(std::uint32_t bound = INADDR_LOOPBACK) : bound(bound) {
        descriptor = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(bound);
        bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
    }
    ~RawSocket() { close(descriptor); }

    void sendTo(const Endpoint& to, std::span<const std::uint8_t> bytes) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(to.port);
        address.sin_addr.s_addr = htonl(to.address);
        sendto(descriptor, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&address),
               sizeof address);
    }

    // The next waiting datagram, if any.
    std::optional<std::vector<std::uint8_t>> receive(Endpoint* from = nullptr) {
        std::vector<std::uint8_t> buffer(2048);
        sockaddr_in address{};
        socklen_t length = sizeof address;
        const auto size = recvfrom(descriptor, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&address), &length);
        if (size < 0)
            return std::nullopt;
        if (from)
            *from = Endpoint{ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
        buffer.resize(static_cast<std::size_t>(size));
        return buffer;
    }

    Endpoint endpoint() const { return Endpoint{bound, port}; }
    std::uint16_t port = 0;

private:
    std::uint32_t bound;
    int descriptor = -1;
};

inline std::string routeAt(const Transport& transport, std::vector<Endpoint> endpoints) {
    return formatRoute(Route{transport.publicKey(), std::move(endpoints)});
}

inline Endpoint endpointOf(const Transport& transport) {
    return Endpoint{INADDR_LOOPBACK, transport.port()};
}

} // namespace transporttest
