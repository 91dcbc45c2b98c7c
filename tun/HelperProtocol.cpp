#include "tun/HelperProtocol.h"

#include <arpa/inet.h>
#include <string_view>

namespace {

constexpr std::size_t maxInterfaceName = 15;

// Reads fields front to back; any read past the end marks the whole message bad.
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes(bytes) {}

    std::optional<std::uint8_t> byte() {
        if (position >= bytes.size())
            return std::nullopt;
        return bytes[position++];
    }
    std::optional<std::uint32_t> word() {
        if (bytes.size() - position < 4)
            return std::nullopt;
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value = value << 8 | bytes[position++];
        return value;
    }
    std::optional<std::string_view> text() {
        auto length = byte();
        if (!length || bytes.size() - position < *length)
            return std::nullopt;
        std::string_view value(reinterpret_cast<const char*>(bytes.data() + position), *length);
        position += *length;
        return value;
    }
    bool atEnd() const { return position == bytes.size(); }

private:
    std::span<const std::uint8_t> bytes;
    std::size_t position = 0;
};

void putWord(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

bool putText(std::vector<std::uint8_t>& out, std::string_view text) {
    if (text.size() > 0xFF)
        return false;
    out.push_back(static_cast<std::uint8_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
    return true;
}

// What interfaceNameFor can give: 1 to 15 letters, digits, '-', '_' or '.'.
bool isInterfaceName(std::string_view name) {
    if (name.empty() || name.size() > maxInterfaceName || name == "." || name == "..")
        return false;
    for (char c : name) {
        bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_' || c == '.';
        if (!kept)
            return false;
    }
    return true;
}

// An address a member of a virtual LAN can hold: unicast, not this host's
// loopback or "this network", not link-local, and neither the network's own
// address nor its broadcast.
const char* addressProblem(std::uint32_t networkOrder, int prefix) {
    std::uint32_t host = ntohl(networkOrder);
    std::uint8_t first = static_cast<std::uint8_t>(host >> 24);
    if (first == 0 || first == 127 || first >= 224)
        return "the address is not a unicast address a network may use";
    if ((host >> 16) == 0xA9FE)
        return "the address is link-local";
    std::uint32_t hostPart = ~(~std::uint32_t{0} << (32 - prefix));
    if ((host & hostPart) == 0 || (host & hostPart) == hostPart)
        return "the address is its network's own address or broadcast";
    return nullptr;
}

HelperRequest parseCreate(Reader& reader) {
    auto pool = reader.text();
    auto name = pool ? reader.text() : std::nullopt;
    if (!name || !reader.atEnd())
        return HelperMalformed{"the adapter's names are cut short or followed by more"};
    auto poolName = utf16FromUtf8(*pool);
    auto adapterName = utf16FromUtf8(*name);
    if (!poolName || !adapterName || !isValidAdapterName(*poolName) ||
        !isValidAdapterName(*adapterName))
        return HelperMalformed{"the adapter's pool or name is not a valid name"};
    AdapterIdentity identity{*poolName, *adapterName};
    if (!encodeAdapterAlias(identity))
        return HelperMalformed{"the adapter's names are too long"};
    return HelperCreate{identity};
}

HelperRequest parseAddress(Reader& reader, HelperInterfaceRequest request) {
    auto family = reader.byte();
    if (!family)
        return HelperMalformed{"the address request is cut short"};
    if (*family != helperFamilyIpv4)
        return HelperMalformed{"only an IPv4 address may be set"};
    auto address = reader.word();
    auto prefix = address ? reader.byte() : std::nullopt;
    if (!prefix || !reader.atEnd())
        return HelperMalformed{"the address request is cut short or followed by more"};
    if (*prefix < helperMinPrefix || *prefix > helperMaxPrefix)
        return HelperMalformed{"the prefix length must be from " + std::to_string(helperMinPrefix) +
                               " to " + std::to_string(helperMaxPrefix)};
    request.address = htonl(*address);
    request.prefix = *prefix;
    if (const char* problem = addressProblem(request.address, request.prefix))
        return HelperMalformed{problem};
    return request;
}

} // namespace

HelperRequest parseHelperRequest(std::span<const std::uint8_t> message) {
    if (message.size() > helperMessageLimit)
        return HelperMalformed{"the request is too long"};
    Reader reader(message);
    auto kind = reader.byte();
    if (!kind)
        return HelperMalformed{"the request is empty"};
    if (*kind == static_cast<std::uint8_t>(HelperRequestKind::create))
        return parseCreate(reader);
    if (*kind < static_cast<std::uint8_t>(HelperRequestKind::up) ||
        *kind > static_cast<std::uint8_t>(HelperRequestKind::remove))
        return HelperMalformed{"unknown request " + std::to_string(*kind)};
    auto name = reader.text();
    if (!name)
        return HelperMalformed{"the interface name is cut short"};
    if (!isInterfaceName(*name))
        return HelperMalformed{"the interface name is not one an adapter can have"};
    HelperInterfaceRequest request;
    request.kind = static_cast<HelperRequestKind>(*kind);
    request.interfaceName = std::string(*name);
    switch (request.kind) {
    case HelperRequestKind::setMtu: {
        auto mtu = reader.word();
        if (!mtu || !reader.atEnd())
            return HelperMalformed{"the MTU request is cut short or followed by more"};
        if (*mtu < helperMinMtu || *mtu > helperMaxMtu)
            return HelperMalformed{"the MTU must be from " + std::to_string(helperMinMtu) + " to " +
                                   std::to_string(helperMaxMtu)};
        request.mtu = *mtu;
        return request;
    }
    case HelperRequestKind::addAddress:
        return parseAddress(reader, request);
    default:
        if (!reader.atEnd())
            return HelperMalformed{"the request is followed by more"};
        return request;
    }
}

std::optional<std::vector<std::uint8_t>> encodeHelperCreate(const AdapterIdentity& identity) {
    auto pool = utf8FromUtf16(identity.pool);
    auto name = utf8FromUtf16(identity.name);
    std::vector<std::uint8_t> out{static_cast<std::uint8_t>(HelperRequestKind::create)};
    if (!pool || !name || !putText(out, *pool) || !putText(out, *name))
        return std::nullopt;
    if (!std::holds_alternative<HelperCreate>(parseHelperRequest(out)))
        return std::nullopt;
    return out;
}

std::optional<std::vector<std::uint8_t>>
encodeHelperRequest(const HelperInterfaceRequest& request) {
    std::vector<std::uint8_t> out{static_cast<std::uint8_t>(request.kind)};
    if (!putText(out, request.interfaceName))
        return std::nullopt;
    if (request.kind == HelperRequestKind::setMtu)
        putWord(out, request.mtu);
    if (request.kind == HelperRequestKind::addAddress) {
        out.push_back(helperFamilyIpv4);
        putWord(out, ntohl(request.address));
        out.push_back(static_cast<std::uint8_t>(request.prefix));
    }
    if (!std::holds_alternative<HelperInterfaceRequest>(parseHelperRequest(out)))
        return std::nullopt;
    return out;
}

std::vector<std::uint8_t> encodeHelperReply(const HelperReply& reply) {
    std::vector<std::uint8_t> out;
    putWord(out, static_cast<std::uint32_t>(reply.error));
    putWord(out, reply.index);
    std::string_view text(reply.text);
    putText(out, text.substr(0, 0xFF));
    return out;
}

std::optional<HelperReply> parseHelperReply(std::span<const std::uint8_t> message) {
    if (message.size() > helperMessageLimit)
        return std::nullopt;
    Reader reader(message);
    auto error = reader.word();
    auto index = error ? reader.word() : std::nullopt;
    auto text = index ? reader.text() : std::nullopt;
    if (!text || !reader.atEnd() || *error > 0xFFFF)
        return std::nullopt;
    return HelperReply{static_cast<int>(*error), *index, std::string(*text)};
}
