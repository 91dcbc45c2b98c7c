#include "sdk/lobby/JoinSecret.h"

#include "sdk/transport/Wire.h"

#include <sodium.h>

#include <algorithm>
#include <cstring>

namespace sdk::lobby {

namespace {
constexpr std::size_t fixedSize = 8 + 16 + 32;
constexpr std::size_t endpointSize = 6;
constexpr std::size_t ipv6EndpointSize = 18;
constexpr std::size_t checkSize = 2;
constexpr std::size_t maxRecordSize = fixedSize + maxSecretEndpoints * endpointSize + checkSize;
constexpr int base64Variant = sodium_base64_VARIANT_URLSAFE_NO_PADDING;

std::array<std::uint8_t, checkSize> checkOf(const std::uint8_t* bytes, std::size_t size) {
    std::uint8_t hash[crypto_generichash_BYTES_MIN];
    crypto_generichash(hash, sizeof hash, bytes, size, nullptr, 0);
    return {hash[0], hash[1]};
}

// The endpoints a record names: the route's first five IPv4 ones; with an
// IPv6 endpoint, which takes 18 bytes and a count, only room is left for
// the first IPv4 one beside the first IPv6 one.
std::vector<transport::Endpoint> recordEndpoints(const JoinSecret& secret) {
    std::vector<transport::Endpoint> ipv4;
    std::optional<transport::Endpoint> ipv6;
    for (const auto& endpoint : secret.endpoints) {
        if (endpoint.isIpv4())
            ipv4.push_back(endpoint);
        else if (!ipv6)
            ipv6 = endpoint;
    }
    if (!ipv6) {
        ipv4.resize(std::min(ipv4.size(), maxSecretEndpoints));
        return ipv4;
    }
    ipv4.resize(std::min<std::size_t>(ipv4.size(), 1));
    ipv4.push_back(*ipv6);
    return ipv4;
}

std::vector<std::uint8_t> recordOf(const JoinSecret& secret) {
    const auto endpoints = recordEndpoints(secret);
    std::vector<std::uint8_t> record(fixedSize);
    transport::putUint64(record.data(), static_cast<std::uint64_t>(secret.lobbyId));
    std::memcpy(record.data() + 8, secret.lobbyKey.data(), secret.lobbyKey.size());
    std::memcpy(record.data() + 24, secret.hostKey.data(), secret.hostKey.size());
    std::uint8_t ipv6Count = 0;
    for (const auto& endpoint : endpoints) {
        if (endpoint.isIpv4()) {
            std::uint8_t address[4];
            transport::putUint32(address, endpoint.ipv4());
            record.insert(record.end(), address, address + 4);
        } else {
            record.insert(record.end(), endpoint.bytes().begin(), endpoint.bytes().end());
            ++ipv6Count;
        }
        record.push_back(static_cast<std::uint8_t>(endpoint.port));
        record.push_back(static_cast<std::uint8_t>(endpoint.port >> 8));
    }
    if (ipv6Count > 0)
        record.push_back(ipv6Count);
    const auto check = checkOf(record.data(), record.size());
    record.insert(record.end(), check.begin(), check.end());
    return record;
}

std::string base64Of(const std::vector<std::uint8_t>& bytes) {
    std::string text(sodium_base64_ENCODED_LEN(bytes.size(), base64Variant), '\0');
    sodium_bin2base64(text.data(), text.size(), bytes.data(), bytes.size(), base64Variant);
    text.resize(std::strlen(text.c_str()));
    return text;
}
} // namespace

std::string formatJoinSecret(const JoinSecret& secret) {
    if (recordEndpoints(secret).empty())
        return {};
    return std::string(joinSecretPrefix) + base64Of(recordOf(secret));
}

std::optional<JoinSecret> parseJoinSecret(std::string_view text) {
    if (text.size() > maxJoinSecretLength || !text.starts_with(joinSecretPrefix))
        return std::nullopt;
    text.remove_prefix(joinSecretPrefix.size());
    std::uint8_t record[maxRecordSize + 1];
    std::size_t size = 0;
    const char* end = nullptr;
    if (sodium_base642bin(record, sizeof record, text.data(), text.size(), nullptr, &size, &end,
                          base64Variant) != 0 ||
        end != text.data() + text.size())
        return std::nullopt;
    if (size < fixedSize + endpointSize + checkSize || size > maxRecordSize)
        return std::nullopt;
    const auto check = checkOf(record, size - checkSize);
    if (std::memcmp(check.data(), record + size - checkSize, checkSize) != 0)
        return std::nullopt;

    JoinSecret secret;
    secret.lobbyId = static_cast<std::int64_t>(transport::getUint64(record));
    if (secret.lobbyId <= 0)
        return std::nullopt;
    std::memcpy(secret.lobbyKey.data(), record + 8, secret.lobbyKey.size());
    std::memcpy(secret.hostKey.data(), record + 24, secret.hostKey.size());
    // Endpoint bytes that are not a whole number of IPv4 entries end in the
    // count of IPv6 entries, which follow the IPv4 ones.
    std::size_t endpointBytes = size - fixedSize - checkSize;
    std::size_t ipv6Count = 0;
    if (endpointBytes % endpointSize != 0) {
        ipv6Count = record[fixedSize + endpointBytes - 1];
        endpointBytes -= 1;
        if (ipv6Count == 0 || ipv6Count * ipv6EndpointSize > endpointBytes ||
            (endpointBytes - ipv6Count * ipv6EndpointSize) % endpointSize != 0)
            return std::nullopt;
    }
    const std::size_t ipv4End = fixedSize + endpointBytes - ipv6Count * ipv6EndpointSize;
    for (std::size_t at = fixedSize; at < fixedSize + endpointBytes;) {
        const bool ipv4 = at < ipv4End;
        transport::Endpoint endpoint;
        if (ipv4) {
            endpoint = transport::Endpoint{transport::getUint32(record + at), 0};
            at += 4;
        } else {
            transport::Endpoint::Bytes address{};
            std::memcpy(address.data(), record + at, address.size());
            endpoint = transport::Endpoint::fromBytes(address, 0);
            at += address.size();
            // An IPv4 address written as IPv6 would be a second spelling.
            if (endpoint.isIpv4())
                return std::nullopt;
        }
        endpoint.port = static_cast<std::uint16_t>(record[at] | (record[at + 1] << 8));
        at += 2;
        if (endpoint.unspecifiedAddress() || endpoint.port == 0)
            return std::nullopt;
        secret.endpoints.push_back(endpoint);
    }
    // One spelling per secret: a text that decodes but is not how we write it
    // (stray bits in the last character) is not a secret.
    if (formatJoinSecret(secret) != std::string(joinSecretPrefix) + std::string(text))
        return std::nullopt;
    return secret;
}

} // namespace sdk::lobby
