#include "sdk/lobby/JoinSecret.h"

#include "sdk/transport/Wire.h"

#include <sodium.h>

#include <cstring>

namespace sdk::lobby {

namespace {
constexpr std::size_t fixedSize = 8 + 16 + 32;
constexpr std::size_t endpointSize = 6;
constexpr std::size_t checkSize = 2;
constexpr std::size_t maxRecordSize = fixedSize + maxSecretEndpoints * endpointSize + checkSize;
constexpr int base64Variant = sodium_base64_VARIANT_URLSAFE_NO_PADDING;

std::array<std::uint8_t, checkSize> checkOf(const std::uint8_t* bytes, std::size_t size) {
    std::uint8_t hash[crypto_generichash_BYTES_MIN];
    crypto_generichash(hash, sizeof hash, bytes, size, nullptr, 0);
    return {hash[0], hash[1]};
}

std::vector<std::uint8_t> recordOf(const JoinSecret& secret) {
    const std::size_t count = std::min(secret.endpoints.size(), maxSecretEndpoints);
    std::vector<std::uint8_t> record(fixedSize + count * endpointSize + checkSize);
    std::uint8_t* out = record.data();
    transport::putUint64(out, static_cast<std::uint64_t>(secret.lobbyId));
    std::memcpy(out + 8, secret.lobbyKey.data(), secret.lobbyKey.size());
    std::memcpy(out + 24, secret.hostKey.data(), secret.hostKey.size());
    out += fixedSize;
    for (std::size_t i = 0; i < count; ++i, out += endpointSize) {
        transport::putUint32(out, secret.endpoints[i].address);
        out[4] = static_cast<std::uint8_t>(secret.endpoints[i].port);
        out[5] = static_cast<std::uint8_t>(secret.endpoints[i].port >> 8);
    }
    const auto check = checkOf(record.data(), record.size() - checkSize);
    std::memcpy(out, check.data(), checkSize);
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
    if (secret.endpoints.empty())
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
    if (size < fixedSize + endpointSize + checkSize || size > maxRecordSize ||
        (size - fixedSize - checkSize) % endpointSize != 0)
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
    for (std::size_t at = fixedSize; at < size - checkSize; at += endpointSize) {
        transport::Endpoint endpoint;
        endpoint.address = transport::getUint32(record + at);
        endpoint.port = static_cast<std::uint16_t>(record[at + 4] | (record[at + 5] << 8));
        if (endpoint.address == 0 || endpoint.port == 0)
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
