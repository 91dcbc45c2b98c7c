#include "sdk/lobby/LobbyMessages.h"

#include "sdk/transport/Wire.h"

#include <cstring>

namespace sdk::lobby {

namespace {
enum class MessageType : std::uint8_t {
    joinRequest = 1,
    challenge = 2,
    proof = 3,
    welcome = 4,
    metadataUpdate = 5,
    memberJoined = 6,
    memberUpdated = 7,
    memberLeft = 8,
    refusal = 9,
    lobbyState = 10,
};

constexpr std::size_t maxChanges = 256;

class Writer {
public:
    explicit Writer(MessageType type) { bytes.push_back(static_cast<std::uint8_t>(type)); }

    void u8(std::uint8_t value) { bytes.push_back(value); }
    void u16(std::uint16_t value) {
        bytes.push_back(static_cast<std::uint8_t>(value));
        bytes.push_back(static_cast<std::uint8_t>(value >> 8));
    }
    void u32(std::uint32_t value) {
        const auto at = grow(4);
        transport::putUint32(bytes.data() + at, value);
    }
    void i64(std::int64_t value) {
        const auto at = grow(8);
        transport::putUint64(bytes.data() + at, static_cast<std::uint64_t>(value));
    }
    template <std::size_t N> void raw(const std::array<std::uint8_t, N>& value) {
        bytes.insert(bytes.end(), value.begin(), value.end());
    }
    void text(std::string_view value) {
        u16(static_cast<std::uint16_t>(value.size()));
        bytes.insert(bytes.end(), value.begin(), value.end());
    }
    void metadata(const Metadata& metadata) {
        u16(static_cast<std::uint16_t>(metadata.size()));
        for (const auto& [key, value] : metadata) {
            text(key);
            text(value);
        }
    }
    std::vector<std::uint8_t> take() { return std::move(bytes); }

private:
    std::size_t grow(std::size_t size) {
        const auto at = bytes.size();
        bytes.resize(at + size);
        return at;
    }
    std::vector<std::uint8_t> bytes;
};

// Reads with bounds checks; once a read fails, every later read fails too.
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes(bytes) {}

    bool ok() const { return intact; }
    bool atEnd() const { return intact && bytes.empty(); }

    std::uint8_t u8() {
        const auto* in = take(1);
        return in ? in[0] : 0;
    }
    std::uint16_t u16() {
        const auto* in = take(2);
        return in ? static_cast<std::uint16_t>(in[0] | (in[1] << 8)) : 0;
    }
    std::uint32_t u32() {
        const auto* in = take(4);
        return in ? transport::getUint32(in) : 0;
    }
    std::int64_t i64() {
        const auto* in = take(8);
        return in ? static_cast<std::int64_t>(transport::getUint64(in)) : 0;
    }
    template <std::size_t N> void raw(std::array<std::uint8_t, N>& out) {
        if (const auto* in = take(N))
            std::memcpy(out.data(), in, N);
    }
    std::string text(std::size_t maxBytes) {
        const std::size_t size = u16();
        if (size > maxBytes) {
            intact = false;
            return {};
        }
        const auto* in = take(size);
        return in ? std::string(reinterpret_cast<const char*>(in), size) : std::string();
    }
    std::string name() {
        auto value = text(maxUserNameBytes);
        if (intact && !validUserName(value))
            intact = false;
        return value;
    }
    std::string key() {
        auto value = text(maxMetadataKeyBytes);
        if (intact && !validMetadataKey(value))
            intact = false;
        return value;
    }
    std::string value() {
        auto value = text(maxMetadataValueBytes);
        if (intact && !validMetadataValue(value))
            intact = false;
        return value;
    }
    Metadata metadata() {
        Metadata metadata;
        const std::size_t count = u16();
        for (std::size_t i = 0; i < count && intact; ++i) {
            auto key = this->key();
            auto value = this->value();
            // Keys come sorted and once each, as the writer's map gives them.
            if (intact && !metadata.empty() && !(metadata.rbegin()->first < key))
                intact = false;
            if (intact)
                metadata.emplace_hint(metadata.end(), std::move(key), std::move(value));
        }
        if (intact && encodedMetadataSize(metadata) > maxMemberMetadataBytes)
            intact = false;
        return metadata;
    }
    void fail() { intact = false; }

private:
    const std::uint8_t* take(std::size_t size) {
        if (!intact || bytes.size() < size) {
            intact = false;
            return nullptr;
        }
        const auto* in = bytes.data();
        bytes = bytes.subspan(size);
        return in;
    }
    std::span<const std::uint8_t> bytes;
    bool intact = true;
};

bool noNul(std::string_view text) {
    return text.find('\0') == std::string_view::npos;
}

// A welcome and a lobby state carry the same: the lobby and every member.
void writeLobby(Writer& out, const LobbySettings& lobby, const std::vector<MemberRecord>& members) {
    out.i64(lobby.id);
    out.u32(static_cast<std::uint32_t>(lobby.type));
    out.i64(lobby.ownerId);
    out.u32(lobby.capacity);
    out.u8(lobby.locked ? 1 : 0);
    out.u8(static_cast<std::uint8_t>(members.size()));
    for (const auto& member : members) {
        out.i64(member.userId);
        out.raw(member.key);
        out.text(member.name);
        out.metadata(member.metadata);
    }
}

bool readLobby(Reader& in, LobbySettings& lobby, std::vector<MemberRecord>& members) {
    lobby.id = in.i64();
    lobby.type = static_cast<std::int32_t>(in.u32());
    lobby.ownerId = in.i64();
    lobby.capacity = in.u32();
    const auto locked = in.u8();
    lobby.locked = locked == 1;
    const std::size_t count = in.u8();
    if (locked > 1 || count == 0 || count > lobby.capacity || lobby.capacity > maxLobbyCapacity)
        return false;
    for (std::size_t i = 0; i < count && in.ok(); ++i) {
        MemberRecord member;
        member.userId = in.i64();
        in.raw(member.key);
        member.name = in.name();
        member.metadata = in.metadata();
        for (const auto& other : members)
            if (other.userId == member.userId || other.key == member.key)
                in.fail();
        members.push_back(std::move(member));
    }
    return in.ok();
}

template <typename Message> std::optional<LobbyMessage> finish(Reader& reader, Message message) {
    if (!reader.atEnd())
        return std::nullopt;
    return LobbyMessage(std::move(message));
}
} // namespace

bool validMetadataKey(std::string_view key) {
    return !key.empty() && key.size() <= maxMetadataKeyBytes && noNul(key);
}

bool validMetadataValue(std::string_view value) {
    return value.size() <= maxMetadataValueBytes && noNul(value);
}

std::size_t encodedMetadataSize(const Metadata& metadata) {
    std::size_t size = 2;
    for (const auto& [key, value] : metadata)
        size += 4 + key.size() + value.size();
    return size;
}

std::optional<Metadata> applyChanges(const Metadata& metadata,
                                     const std::vector<MetadataChange>& changes) {
    Metadata result = metadata;
    for (const auto& change : changes) {
        if (!validMetadataKey(change.key) || (change.value && !validMetadataValue(*change.value)))
            return std::nullopt;
        if (change.value)
            result.insert_or_assign(change.key, *change.value);
        else
            result.erase(change.key);
    }
    if (encodedMetadataSize(result) > maxMemberMetadataBytes)
        return std::nullopt;
    return result;
}

std::vector<std::uint8_t> encodeLobbyMessage(const LobbyMessage& message) {
    struct Encoder {
        std::vector<std::uint8_t> operator()(const JoinRequest& value) const {
            Writer out(MessageType::joinRequest);
            out.i64(value.lobbyId);
            out.raw(value.memberNonce);
            out.i64(value.userId);
            out.text(value.name);
            return out.take();
        }
        std::vector<std::uint8_t> operator()(const Challenge& value) const {
            Writer out(MessageType::challenge);
            out.raw(value.hostNonce);
            return out.take();
        }
        std::vector<std::uint8_t> operator()(const AdmissionProof& value) const {
            Writer out(MessageType::proof);
            out.raw(value.proof);
            return out.take();
        }
        std::vector<std::uint8_t> operator()(const Welcome& value) const {
            Writer out(MessageType::welcome);
            writeLobby(out, value.lobby, value.members);
            return out.take();
        }
        std::vector<std::uint8_t> operator()(const LobbyState& value) const {
            Writer out(MessageType::lobbyState);
            writeLobby(out, value.lobby, value.members);
            return out.take();
        }
        std::vector<std::uint8_t> operator()(const MetadataUpdate& value) const {
            Writer out(MessageType::metadataUpdate);
            out.u16(static_cast<std::uint16_t>(value.changes.size()));
            for (const auto& change : value.changes) {
                out.u8(change.value ? 1 : 0);
                out.text(change.key);
                if (change.value)
                    out.text(*change.value);
            }
            return out.take();
        }
        std::vector<std::uint8_t> operator()(const MemberJoined& value) const {
            Writer out(MessageType::memberJoined);
            out.i64(value.userId);
            out.raw(value.key);
            out.text(value.name);
            return out.take();
        }
        std::vector<std::uint8_t> operator()(const MemberUpdated& value) const {
            Writer out(MessageType::memberUpdated);
            out.i64(value.userId);
            out.metadata(value.metadata);
            return out.take();
        }
        std::vector<std::uint8_t> operator()(const MemberLeft& value) const {
            Writer out(MessageType::memberLeft);
            out.i64(value.userId);
            return out.take();
        }
        std::vector<std::uint8_t> operator()(const Refusal& value) const {
            Writer out(MessageType::refusal);
            out.u8(static_cast<std::uint8_t>(value.reason));
            return out.take();
        }
    };
    return std::visit(Encoder{}, message);
}

std::optional<LobbyMessage> decodeLobbyMessage(std::span<const std::uint8_t> bytes) {
    if (bytes.empty())
        return std::nullopt;
    Reader in(bytes.subspan(1));
    switch (static_cast<MessageType>(bytes[0])) {
    case MessageType::joinRequest: {
        JoinRequest value;
        value.lobbyId = in.i64();
        in.raw(value.memberNonce);
        value.userId = in.i64();
        value.name = in.name();
        return finish(in, std::move(value));
    }
    case MessageType::challenge: {
        Challenge value;
        in.raw(value.hostNonce);
        return finish(in, value);
    }
    case MessageType::proof: {
        AdmissionProof value;
        in.raw(value.proof);
        return finish(in, value);
    }
    case MessageType::welcome: {
        Welcome value;
        if (!readLobby(in, value.lobby, value.members))
            return std::nullopt;
        return finish(in, std::move(value));
    }
    case MessageType::lobbyState: {
        LobbyState value;
        if (!readLobby(in, value.lobby, value.members))
            return std::nullopt;
        return finish(in, std::move(value));
    }
    case MessageType::metadataUpdate: {
        MetadataUpdate value;
        const std::size_t count = in.u16();
        if (count > maxChanges)
            return std::nullopt;
        for (std::size_t i = 0; i < count && in.ok(); ++i) {
            const auto kind = in.u8();
            MetadataChange change;
            change.key = in.key();
            if (kind == 1)
                change.value = in.value();
            else if (kind != 0)
                in.fail();
            value.changes.push_back(std::move(change));
        }
        return finish(in, std::move(value));
    }
    case MessageType::memberJoined: {
        MemberJoined value;
        value.userId = in.i64();
        in.raw(value.key);
        value.name = in.name();
        return finish(in, std::move(value));
    }
    case MessageType::memberUpdated: {
        MemberUpdated value;
        value.userId = in.i64();
        value.metadata = in.metadata();
        return finish(in, std::move(value));
    }
    case MessageType::memberLeft: {
        MemberLeft value;
        value.userId = in.i64();
        return finish(in, value);
    }
    case MessageType::refusal: {
        const auto reason = in.u8();
        if (reason < 1 || reason > 4)
            return std::nullopt;
        return finish(in, Refusal{static_cast<RefusalReason>(reason)});
    }
    }
    return std::nullopt;
}

const char* describe(RefusalReason reason) {
    switch (reason) {
    case RefusalReason::noSuchLobby:
        return "the host has no such lobby";
    case RefusalReason::wrongProof:
        return "the invitation's key is not the lobby's";
    case RefusalReason::lobbyFull:
        return "the lobby is full";
    case RefusalReason::notExpected:
        return "the host did not expect that message";
    }
    return "refused";
}

} // namespace sdk::lobby
