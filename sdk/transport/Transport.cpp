#include "sdk/transport/Transport.h"

#include "sdk/os/LocalAddresses.h"

#include <sodium.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace sdk::transport {

namespace {
std::uint64_t randomNonZero64() {
    std::uint64_t value = 0;
    while (value == 0)
        randombytes_buf(&value, sizeof value);
    return value;
}
} // namespace

std::vector<Endpoint> Transport::localEndpoints() const {
    std::vector<Endpoint> endpoints;
    if (!settings.announcedAddresses.empty()) {
        for (const auto& address : settings.announcedAddresses)
            endpoints.push_back(Endpoint::fromBytes(address.bytes(), socket.port()));
        return endpoints;
    }
    for (const auto address : os::localIpv4Addresses())
        endpoints.push_back(Endpoint{address, socket.port()});
    for (const auto& address : os::localIpv6Addresses())
        endpoints.push_back(Endpoint::fromBytes(address, socket.port()));
    return endpoints;
}

Transport::Transport(TransportSettings chosen)
    : settings(std::move(chosen)), socket(settings.port, settings.batchDatagrams),
      initiationLimiter(settings.initiationLimits) {
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium cannot start");
    keys = KeyPair::generate();
    cookies = CookieChecker(keys.publicKey);
    ownPeerId = peerIdOf(keys.publicKey);
    ciphers = availableCiphers(settings.allowAes);
    ownEndpoints = localEndpoints();
    lastRouteCheck = Clock::now();
    pollTime = lastRouteCheck;
    rebuildRoute(lastRouteCheck);
    plaintext.resize(maxDatagramSize);
    datagram.resize(maxDatagramSize);
    relayDatagram.resize(maxDatagramSize);
}

Transport::~Transport() {
    for (auto& [id, peer] : peers)
        if (peer->connected)
            sendFrame(*peer, Frame{FrameKind::close, {}, 0, 0, {}, 0, {}});
    sodium_memzero(keys.secretKey.data(), keys.secretKey.size());
}

Peer* Transport::find(PeerId peer) const {
    const auto found = peers.find(peer);
    return found == peers.end() ? nullptr : found->second.get();
}

Peer& Transport::addPeer(PeerId id, const PublicKey& key, bool opened) {
    auto peer = std::make_unique<Peer>();
    peer->id = id;
    peer->key = key;
    peer->opened = opened;
    peer->local = id == ownPeerId;
    peer->incarnation = randomNonZero64();
    peer->openedAt = Clock::now();
    peer->lastReceived = peer->openedAt;
    peer->lastSent = peer->openedAt;
    peer->channels[Channel::control().key()].reliability = Reliability::reliable;
    peer->channels[Channel::control().key()].opened = true;
    auto& stored = *peer;
    peers[id] = std::move(peer);
    return stored;
}

void Transport::removePeer(Peer& peer) {
    dropSessions(peer);
    if (peer.handshake)
        releaseIndex(peer.handshake->localIndex);
    if (peer.local)
        localMessages.clear();
    localBytes = 0;
    peers.erase(peer.id);
}

void Transport::setNewcomer(Peer& peer, bool newcomer) {
    peer.newcomer = newcomer;
    auto& control = peer.channels[Channel::control().key()];
    if (newcomer) {
        peer.newcomerDeadline = Clock::now() + settings.peerTimeout;
        control.receiver.limit(NewcomerBudget::messageBytes, NewcomerBudget::heldBytes);
    } else {
        control.receiver.limit(maxReliableMessage, static_cast<std::size_t>(-1));
    }
}

void Transport::admitPeer(PeerId id) {
    if (Peer* peer = find(id))
        setNewcomer(*peer, false);
}

std::size_t Transport::newcomerCount() const {
    return static_cast<std::size_t>(std::count_if(
        peers.begin(), peers.end(), [](const auto& p) { return p.second->newcomer; }));
}

std::size_t Transport::newcomerHeldBytes() const {
    std::size_t bytes = 0;
    for (const auto& [id, peer] : peers)
        if (peer->newcomer)
            for (const auto& [key, channel] : peer->channels)
                bytes += channel.receiver.heldBytes() + channel.sender.queuedBytes();
    return bytes;
}

std::size_t Transport::queuedBytes(PeerId id, Channel channel) const {
    const Peer* peer = find(id);
    if (!peer)
        return 0;
    const auto found = peer->channels.find(channel.key());
    return found == peer->channels.end() ? 0 : found->second.sender.queuedBytes();
}

std::uint32_t Transport::newIndex(Peer& peer) {
    while (true) {
        const std::uint32_t index = randombytes_random();
        if (index != 0 && indices.emplace(index, peer.id).second)
            return index;
    }
}

void Transport::releaseIndex(std::uint32_t index) {
    indices.erase(index);
}

void Transport::dropSessions(Peer& peer) {
    for (const auto& session : peer.sessions)
        releaseIndex(session->localIndex);
    peer.sessions.clear();
}

void Transport::addSession(Peer& peer, std::unique_ptr<Session> session) {
    peer.sessions.push_back(std::move(session));
    while (peer.sessions.size() > Peer::maxSessions) {
        releaseIndex(peer.sessions.front()->localIndex);
        peer.sessions.erase(peer.sessions.begin());
    }
}

void Transport::markLost(Peer& peer, TransportEvents* events) {
    dropSessions(peer);
    peer.endpoint.reset();
    peer.relayedBy = 0;
    peer.pathRoundTrip.reset();
    peer.challenges.clear();
    const bool wasConnected = peer.connected;
    peer.connected = false;
    if (!peer.lossReported && events && (wasConnected || peer.opened)) {
        peer.lossReported = true;
        events->onPeerLost(peer.id);
    }
}

void Transport::markConnected(Peer& peer, TransportEvents& events) {
    if (peer.connected)
        return;
    peer.connected = true;
    peer.lossReported = false;
    peer.lastProbe = {}; // the first probe at once: the round trip, and our reflexive address
    events.onPeerConnected(peer.id);
}

// The other end is a new peer object: what was in flight belonged to the old one.
void Transport::startOver(Peer& peer, TransportEvents* events) {
    if (peer.connected)
        markLost(peer, events);
    dropSessions(peer);
    peer.lossReported = false;
    for (auto& [key, channel] : peer.channels) {
        channel.sender.restart();
        channel.receiver.restart();
        channel.acknowledgementDue = false;
    }
}

std::uint64_t Transport::nextTimestamp() {
    const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    lastTimestamp = std::max(lastTimestamp + 1, static_cast<std::uint64_t>(now));
    return lastTimestamp;
}

TransportStatus Transport::openPeer(PeerId id, std::string_view routeText, PeerUse use) {
    const auto useBit = static_cast<std::uint8_t>(use);
    if (Peer* existing = find(id)) {
        if (existing->uses & useBit)
            return TransportStatus::peerExists;
        if (!existing->local) {
            const auto route = parseRoute(routeText);
            if (!route || route->key != existing->key)
                return TransportStatus::invalidRoute;
            setCandidates(*existing, route->endpoints);
        }
        existing->uses |= useBit;
        if (use == PeerUse::program)
            restoreChannels(*existing);
        if (existing->newcomer)
            setNewcomer(*existing, false);
        if (!existing->opened) {
            existing->opened = true;
            existing->openedAt = Clock::now();
            if (!existing->local && !existing->connected)
                sendInitiation(*existing, existing->openedAt);
        }
        return TransportStatus::ok;
    }
    if (id == ownPeerId) {
        addPeer(id, keys.publicKey, true).uses = useBit;
        return TransportStatus::ok;
    }
    const auto route = parseRoute(routeText);
    if (!route || peerIdOf(route->key) != id)
        return TransportStatus::invalidRoute;
    Peer& peer = addPeer(id, route->key, true);
    peer.uses = useBit;
    setCandidates(peer, route->endpoints);
    if (use == PeerUse::program)
        restoreChannels(peer);
    sendInitiation(peer, Clock::now());
    return TransportStatus::ok;
}

TransportStatus Transport::updatePeer(PeerId id, std::string_view routeText) {
    Peer* peer = find(id);
    if (!peer)
        return TransportStatus::unknownPeer;
    if (peer->local)
        return TransportStatus::ok;
    const auto route = parseRoute(routeText);
    if (!route || route->key != peer->key)
        return TransportStatus::invalidRoute;
    setCandidates(*peer, route->endpoints);
    if (!peer->opened)
        peer->uses |= static_cast<std::uint8_t>(PeerUse::program);
    if (peer->uses & static_cast<std::uint8_t>(PeerUse::program))
        restoreChannels(*peer);
    peer->opened = true;
    if (peer->newcomer)
        setNewcomer(*peer, false);
    const bool stillThere = peer->relayedBy == 0 && peer->endpoint &&
                            std::find(route->endpoints.begin(), route->endpoints.end(),
                                      *peer->endpoint) != route->endpoints.end();
    // Ask at the new endpoints at once; the session in use carries on meanwhile.
    if (!peer->connected || !stillThere)
        sendInitiation(*peer, Clock::now());
    return TransportStatus::ok;
}

TransportStatus Transport::closePeer(PeerId id, PeerUse use) {
    Peer* peer = find(id);
    if (!peer)
        return TransportStatus::unknownPeer;
    peer->uses &= static_cast<std::uint8_t>(~static_cast<std::uint8_t>(use));
    if (peer->uses != 0)
        return TransportStatus::ok;
    if (peer->connected)
        sendFrame(*peer, Frame{FrameKind::close, {}, 0, 0, {}, 0, {}});
    removePeer(*peer);
    return TransportStatus::ok;
}

void Transport::forgetPeer(PeerId id) {
    Peer* peer = find(id);
    if (!peer || peer->local)
        return;
    if (peer->connected)
        sendFrame(*peer, Frame{FrameKind::close, {}, 0, 0, {}, 0, {}});
    // The program keeps the peer id and opens it again only by updating it,
    // when its member is admitted again: its channels come back with it.
    if (peer->uses & static_cast<std::uint8_t>(PeerUse::program)) {
        auto& channels = forgottenChannels[id];
        channels.clear();
        for (const auto& [key, state] : peer->channels)
            if (state.opened && (key & 0x100) == 0)
                channels.emplace_back(Channel{static_cast<std::uint8_t>(key), false},
                                      state.reliability);
        while (forgottenChannels.size() > maxForgotten)
            forgottenChannels.erase(forgottenChannels.begin());
    }
    removePeer(*peer);
}

void Transport::restoreChannels(Peer& peer) {
    const auto forgotten = forgottenChannels.find(peer.id);
    if (forgotten == forgottenChannels.end())
        return;
    for (const auto& [channel, reliability] : forgotten->second)
        openChannel(peer.id, channel, reliability);
    forgottenChannels.erase(forgotten);
}

TransportStatus Transport::openChannel(PeerId id, Channel channel, Reliability reliability) {
    Peer* peer = find(id);
    if (!peer)
        return TransportStatus::unknownPeer;
    auto& state = peer->channels[channel.key()];
    if (state.opened && state.reliability != reliability)
        return TransportStatus::channelExists;
    state.opened = true;
    state.reliability = reliability;
    return TransportStatus::ok;
}

TransportStatus Transport::closeChannel(PeerId id, Channel channel) {
    Peer* peer = find(id);
    if (!peer)
        return TransportStatus::unknownPeer;
    const auto found = peer->channels.find(channel.key());
    if (found == peer->channels.end() || !found->second.opened || channel == Channel::control())
        return TransportStatus::unknownChannel;
    found->second.opened = false;
    return TransportStatus::ok;
}

TransportStatus Transport::send(PeerId id, Channel channel, std::span<const std::uint8_t> message) {
    Peer* peer = find(id);
    if (!peer)
        return TransportStatus::unknownPeer;
    const auto found = peer->channels.find(channel.key());
    if (found == peer->channels.end() || !found->second.opened)
        return TransportStatus::unknownChannel;
    auto& state = found->second;
    const bool reliable = state.reliability == Reliability::reliable;
    if (message.size() > (reliable ? maxReliableMessage : maxUnreliableMessage))
        return TransportStatus::tooLarge;
    if (peer->local) {
        // The same bound as a reliable channel's queue: a program that sends
        // to itself without running callbacks cannot grow it without end.
        if (localBytes + message.size() > maxReliableQueued)
            return TransportStatus::queueFull;
        localBytes += message.size();
        localMessages.push_back(LocalMessage{channel, {message.begin(), message.end()}});
        return TransportStatus::ok;
    }
    if (reliable) {
        if (!state.sender.push(message))
            return TransportStatus::queueFull;
        if (peer->current())
            sendReliable(*peer, Clock::now());
        return TransportStatus::ok;
    }
    if (!peer->current() || !pathTo(*peer))
        return TransportStatus::notConnected;
    const HeldDatagrams held(*this);
    return sendFrame(*peer, Frame{FrameKind::unreliable, channel, 0, 0, message, 0, {}})
               ? TransportStatus::ok
               : TransportStatus::sendFailed;
}

void Transport::flush() {
    const TimePoint now = Clock::now();
    const HeldDatagrams held(*this);
    for (auto& [id, peer] : peers) {
        if (peer->local || !peer->current())
            continue;
        sendAcknowledgements(*peer);
        sendReliable(*peer, now);
    }
    socket.sendQueued();
}

void Transport::poll(TransportEvents& events) {
    const TimePoint now = Clock::now();
    pollTime = now;
    const HeldDatagrams held(*this);
    refreshRoute(now, events);
    deliverLocal(events);
    initiationLimiter.startPoll();
    receiveDatagrams(events);
    for (auto& [id, peer] : peers)
        service(*peer, now, events);
    dropExpiredNewcomers(now, events);
    socket.sendQueued();
}

bool Transport::isOpenedBy(PeerId id, PeerUse use) const {
    const Peer* peer = find(id);
    return peer && (peer->uses & static_cast<std::uint8_t>(use)) != 0;
}

std::optional<PublicKey> Transport::keyOf(PeerId id) const {
    const Peer* peer = find(id);
    if (!peer)
        return std::nullopt;
    return peer->key;
}

std::optional<PeerPathInfo> Transport::pathOf(PeerId id) const {
    const Peer* peer = find(id);
    if (!peer)
        return std::nullopt;
    PeerPathInfo info;
    info.connected = peer->local || peer->connected;
    if (const auto path = peer->connected ? pathTo(*peer) : std::nullopt) {
        info.relayed = !path->direct();
        info.relay = path->relay;
        info.endpoint = path->endpoint;
    }
    info.roundTrip = peer->pathRoundTrip;
    return info;
}

bool Transport::isConnected(PeerId id) const {
    const Peer* peer = find(id);
    return peer && (peer->local || peer->connected);
}

} // namespace sdk::transport
