#pragma once

// One port mapping protocol spoken with the home router: ask for the SDK's UDP
// port to be forwarded from the router's public address, and take it back.
// Every call may wait on the network (up to a few seconds): only the port
// mapper's own thread makes them.

#include "sdk/os/Endpoint.h"

#include <chrono>
#include <memory>
#include <optional>
#include <stop_token>
#include <string_view>

namespace sdk::nat {

struct Mapping {
    os::Endpoint external;
    // How long the router keeps it; zero: until it is removed.
    std::chrono::seconds lifetime{0};
};

class Gateway {
public:
    virtual ~Gateway() = default;
    // Maps (or renews) UDP port `port` of this machine; nothing when the
    // router refuses or does not answer.
    virtual std::optional<Mapping> map(std::uint16_t port, std::chrono::seconds lease,
                                       std::stop_token stop) = 0;
    // Takes back what map made; best effort, within a short time.
    virtual void unmap(std::uint16_t port, const Mapping& mapping) = 0;
    virtual const char* protocol() const = 0;
};

// The router's UPnP IGD (SSDP discovery waits `discovery`), or none. Only
// the default gateway is believed: an answer whose description, or whose
// control point, is at another address (any device on the LAN may answer
// a search) is passed over.
std::unique_ptr<Gateway> findUpnpGateway(std::chrono::milliseconds discovery);
// Whether an http URL's host is exactly this IPv4 address (host byte order).
bool urlIsAt(std::string_view url, std::uint32_t address);
// NAT-PMP at the default gateway, or none when there is no default gateway.
std::unique_ptr<Gateway> openNatPmpGateway();

} // namespace sdk::nat
