#pragma once

// The requests our library sends its adapter helper, and the helper's replies:
// one request or reply per message of a SOCK_SEQPACKET socket pair. Every
// field is checked where it is read; what does not parse changes nothing.
//
// A request is a kind byte and its fields. Every request but the first names
// the interface it is about, which must be the one the helper created:
//   create      u8 pool length, pool (UTF-8), u8 name length, name (UTF-8)
//   up          u8 interface length, interface
//   setMtu      u8 interface length, interface, u32 MTU
//   addAddress  u8 interface length, interface, u8 family (4), u32 address, u8 prefix
//   removeAddress, markPrivate, remove    u8 interface length, interface
// A reply is u32 error (0, or an errno value), u32 interface index, u8 text
// length and the text: the interface name after create (its queue comes with
// it as SCM_RIGHTS), else what went wrong, for a person. Integers are big-endian.

#include "platform/linux/AdapterAlias.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

// Longer requests or replies are malformed.
constexpr std::size_t helperMessageLimit = 512;
// An MTU from the smallest every IPv4 host must take to a jumbo frame.
constexpr std::uint32_t helperMinMtu = 576;
constexpr std::uint32_t helperMaxMtu = 9000;
// A network with room for members, never one that takes over most routes.
constexpr int helperMinPrefix = 8;
constexpr int helperMaxPrefix = 30;
constexpr std::uint8_t helperFamilyIpv4 = 4;

enum class HelperRequestKind : std::uint8_t {
    create = 1,
    up = 2,
    setMtu = 3,
    addAddress = 4,
    removeAddress = 5,
    markPrivate = 6,
    remove = 7,
};

struct HelperCreate {
    AdapterIdentity identity;
    bool operator==(const HelperCreate&) const = default;
};

// A request about the helper's one interface; the fields a kind does not use are 0.
struct HelperInterfaceRequest {
    HelperRequestKind kind = HelperRequestKind::up;
    std::string interfaceName;
    std::uint32_t mtu = 0;
    std::uint32_t address = 0; // network byte order
    int prefix = 0;
    bool operator==(const HelperInterfaceRequest&) const = default;
};

// Why a request was refused before anything was done, for a person.
struct HelperMalformed {
    std::string reason;
    bool operator==(const HelperMalformed&) const = default;
};

using HelperRequest = std::variant<HelperCreate, HelperInterfaceRequest, HelperMalformed>;

HelperRequest parseHelperRequest(std::span<const std::uint8_t> message);

// Encoders for the library's side; nullopt when the values could not be parsed
// back (a name too long, a field out of range).
std::optional<std::vector<std::uint8_t>> encodeHelperCreate(const AdapterIdentity& identity);
std::optional<std::vector<std::uint8_t>> encodeHelperRequest(const HelperInterfaceRequest& request);

struct HelperReply {
    int error = 0;
    std::uint32_t index = 0;
    std::string text;
    bool operator==(const HelperReply&) const = default;
};

std::vector<std::uint8_t> encodeHelperReply(const HelperReply& reply);
std::optional<HelperReply> parseHelperReply(std::span<const std::uint8_t> message);
