#include "sdk/transport/Handshake.h"

#include "sdk/transport/Cookie.h"

#include <sodium.h>

#include <cstring>
#include <string_view>

namespace sdk::transport {

namespace {
struct DirectionKeys {
    SymmetricKey receive{};
    SymmetricKey transmit{};
};

std::optional<DirectionKeys> exchangeAsClient(const KeyPair& local, const PublicKey& remote) {
    DirectionKeys keys;
    if (crypto_kx_client_session_keys(keys.receive.data(), keys.transmit.data(),
                                      local.publicKey.data(), local.secretKey.data(),
                                      remote.data()) != 0)
        return std::nullopt;
    return keys;
}

std::optional<DirectionKeys> exchangeAsServer(const KeyPair& local, const PublicKey& remote) {
    DirectionKeys keys;
    if (crypto_kx_server_session_keys(keys.receive.data(), keys.transmit.data(),
                                      local.publicKey.data(), local.secretKey.data(),
                                      remote.data()) != 0)
        return std::nullopt;
    return keys;
}

using Mac = std::array<std::uint8_t, macSize>;

Mac macOf(const SymmetricKey& key, std::span<const std::uint8_t> message) {
    Mac mac{};
    crypto_generichash(mac.data(), mac.size(), message.data(), message.size(), key.data(),
                       key.size());
    return mac;
}

// Keyed hash of a label and some key material: one derived key.
SymmetricKey derive(const SymmetricKey& key, std::string_view label, const SymmetricKey& first,
                    const SymmetricKey& second) {
    crypto_generichash_state state;
    crypto_generichash_init(&state, key.data(), key.size(), 32);
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(label.data()),
                              label.size());
    crypto_generichash_update(&state, first.data(), first.size());
    crypto_generichash_update(&state, second.data(), second.size());
    SymmetricKey out{};
    crypto_generichash_final(&state, out.data(), out.size());
    return out;
}

// The static exchange's key in the initiator-to-responder direction keys the
// initiation's MAC; its other direction and the ephemeral exchange key the
// rest. Both ends name them from the initiator's point of view.
struct HandshakeSecrets {
    SymmetricKey initiationMac{};
    SymmetricKey responseMac{};
    SessionKeys initiatorKeys;
};

HandshakeSecrets secretsOf(const DirectionKeys& staticInitiatorView,
                           const DirectionKeys& ephemeralInitiatorView) {
    HandshakeSecrets secrets;
    secrets.initiationMac = staticInitiatorView.transmit;
    secrets.responseMac = derive(staticInitiatorView.receive, "vaskor response",
                                 ephemeralInitiatorView.receive, ephemeralInitiatorView.transmit);
    secrets.initiatorKeys.send =
        derive(staticInitiatorView.transmit, "vaskor data", ephemeralInitiatorView.transmit, {});
    secrets.initiatorKeys.receive =
        derive(staticInitiatorView.receive, "vaskor data", ephemeralInitiatorView.receive, {});
    return secrets;
}

DirectionKeys swapped(const DirectionKeys& keys) {
    return {keys.transmit, keys.receive};
}

// The MAC at offset covers everything before it.
bool macMatches(const SymmetricKey& key, std::span<const std::uint8_t> datagram,
                std::size_t offset) {
    const Mac expected = macOf(key, datagram.first(offset));
    return sodium_memcmp(expected.data(), datagram.data() + offset, macSize) == 0;
}

void writeMac(const SymmetricKey& key, std::vector<std::uint8_t>& datagram, std::size_t offset) {
    const Mac mac = macOf(key, std::span(datagram).first(offset));
    std::memcpy(datagram.data() + offset, mac.data(), mac.size());
}
} // namespace

InitiationToSend makeInitiation(const KeyPair& local, const PublicKey& remote,
                                std::uint32_t localIndex, std::uint64_t timestamp,
                                std::uint64_t incarnation, std::uint8_t ciphers,
                                const std::optional<Cookie>& cookie) {
    InitiationToSend out;
    out.pending.ephemeral = KeyPair::generate();
    out.pending.localIndex = localIndex;
    out.pending.ciphers = ciphers;
    Initiation initiation{localIndex, local.publicKey, out.pending.ephemeral.publicKey,
                          timestamp,  incarnation,     ciphers};
    out.datagram = encodeInitiation(initiation);
    // A remote key that the exchange refuses gets an initiation nobody can verify.
    const auto staticKeys = exchangeAsClient(local, remote);
    writeMac(staticKeys ? staticKeys->transmit : SymmetricKey{}, out.datagram, initiationMacOffset);
    writeInitiationMacs(out.datagram, remote, cookie);
    return out;
}

std::optional<VerifiedInitiation> verifyInitiation(const KeyPair& local,
                                                   std::span<const std::uint8_t> datagram) {
    const auto initiation = decodeInitiation(datagram);
    if (!initiation || initiation->staticKey == local.publicKey)
        return std::nullopt;
    const auto staticKeys = exchangeAsServer(local, initiation->staticKey);
    if (!staticKeys || !macMatches(swapped(*staticKeys).transmit, datagram, initiationMacOffset))
        return std::nullopt;
    return VerifiedInitiation{*initiation};
}

std::optional<ResponseToSend> makeResponse(const KeyPair& local, const Initiation& initiation,
                                           std::uint32_t localIndex, std::uint64_t incarnation,
                                           std::uint8_t ciphers) {
    const auto staticKeys = exchangeAsServer(local, initiation.staticKey);
    const KeyPair ephemeral = KeyPair::generate();
    const auto ephemeralKeys = exchangeAsServer(ephemeral, initiation.ephemeralKey);
    if (!staticKeys || !ephemeralKeys)
        return std::nullopt;
    const HandshakeSecrets secrets = secretsOf(swapped(*staticKeys), swapped(*ephemeralKeys));
    ResponseToSend out;
    out.cipher = chooseCipher(ciphers, initiation.ciphers);
    Response response{localIndex, initiation.senderIndex, ephemeral.publicKey, incarnation,
                      static_cast<std::uint8_t>(out.cipher)};
    out.datagram = encodeResponse(response);
    writeMac(secrets.responseMac, out.datagram, responseSize - macSize);
    out.keys = {secrets.initiatorKeys.receive, secrets.initiatorKeys.send};
    return out;
}

std::optional<AcceptedResponse> acceptResponse(const KeyPair& local, const PublicKey& remote,
                                               const PendingInitiation& pending,
                                               std::span<const std::uint8_t> datagram) {
    const auto response = decodeResponse(datagram);
    if (!response || response->receiverIndex != pending.localIndex ||
        !isKnownCipher(response->cipher) || !(response->cipher & pending.ciphers))
        return std::nullopt;
    const auto staticKeys = exchangeAsClient(local, remote);
    const auto ephemeralKeys = exchangeAsClient(pending.ephemeral, response->ephemeralKey);
    if (!staticKeys || !ephemeralKeys)
        return std::nullopt;
    const HandshakeSecrets secrets = secretsOf(*staticKeys, *ephemeralKeys);
    if (!macMatches(secrets.responseMac, datagram, responseSize - macSize))
        return std::nullopt;
    return AcceptedResponse{*response, secrets.initiatorKeys,
                            static_cast<Cipher>(response->cipher)};
}

} // namespace sdk::transport
