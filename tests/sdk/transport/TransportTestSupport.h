#pragma once

// Helpers for tests of the transport alone: an event recorder, loopback
// transports, a raw UDP socket, and a pump.

#include "sdk/transport/Transport.h"
#include "tests/support/PumpUntil.h"
#include "tests/support/TestUdpSocket.h"

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
    settings.announcedAddresses = {Endpoint{INADDR_LOOPBACK, 0}};
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

// A plain UDP socket on loopback for sending what a stranger would send,
// spoken to in the transport's endpoints; another loopback address
// (127.0.0.2) makes it another source.
class RawSocket : public testsupport::TestUdpSocket {
public:
    explicit RawSocket(std::uint32_t bound = INADDR_LOOPBACK)
        : TestUdpSocket(bound), bound(bound) {}
    using TestUdpSocket::sendTo;
    void sendTo(const Endpoint& to, std::span<const std::uint8_t> bytes) {
        sendTo(to.ipv4(), to.port, bytes);
    }
    std::optional<std::vector<std::uint8_t>> receive(Endpoint* from = nullptr) {
        std::uint32_t address = 0;
        std::uint16_t port = 0;
        auto datagram = TestUdpSocket::receive(&address, &port);
        if (datagram && from)
            *from = Endpoint{address, port};
        return datagram;
    }
    Endpoint endpoint() const { return Endpoint{bound, port()}; }

private:
    std::uint32_t bound;
};

inline std::string routeAt(const Transport& transport, std::vector<Endpoint> endpoints) {
    return formatRoute(Route{transport.publicKey(), std::move(endpoints)});
}

inline Endpoint endpointOf(const Transport& transport) {
    return Endpoint{INADDR_LOOPBACK, transport.port()};
}

} // namespace transporttest
