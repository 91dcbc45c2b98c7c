#include "sdk/os/LocalAddresses.h"

#include <winsock2.h> // before the other system headers

#include <iphlpapi.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>

namespace sdk::os {

bool isLoopbackAddress(std::uint32_t address) {
    return (address >> 24) == 127;
}

namespace {

// Tunnels and other virtual point-to-point adapters (this program's own
// adapter among them): a peer reached through one would be reached through us.
bool isTunnel(IFTYPE type) {
    return type == IF_TYPE_TUNNEL || type == IF_TYPE_PPP || type == IF_TYPE_PROP_VIRTUAL;
}

// The system's adapters with their addresses of one family, or nothing.
std::vector<unsigned char> adaptersOf(ULONG family) {
    constexpr ULONG flags =
        GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    // The list may grow between the asking for its size and the reading.
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        result = GetAdaptersAddresses(
            family, flags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (result != NO_ERROR)
        buffer.clear();
    return buffer;
}

bool usable(const IP_ADAPTER_ADDRESSES* adapter) {
    return adapter->OperStatus == IfOperStatusUp && adapter->IfType != IF_TYPE_SOFTWARE_LOOPBACK &&
           !isTunnel(adapter->IfType);
}

} // namespace

std::vector<Endpoint::Bytes> localIpv6Addresses() {
    std::vector<Endpoint::Bytes> addresses;
    const auto buffer = adaptersOf(AF_INET6);
    if (buffer.empty())
        return addresses;
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter;
         adapter = adapter->Next) {
        if (!usable(adapter))
            continue;
        for (auto* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next) {
            const sockaddr* address = unicast->Address.lpSockaddr;
            // Preferred only: not tentative, duplicate or deprecated; and not
            // a temporary (random) one.
            if (!address || address->sa_family != AF_INET6 ||
                unicast->DadState != IpDadStatePreferred ||
                unicast->SuffixOrigin == IpSuffixOriginRandom)
                continue;
            Endpoint::Bytes value{};
            std::memcpy(value.data(), &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr,
                        value.size());
            if ((value[0] & 0xe0) != 0x20)
                continue;
            if (std::find(addresses.begin(), addresses.end(), value) == addresses.end())
                addresses.push_back(value);
        }
    }
    return addresses;
}

std::vector<std::uint32_t> localIpv4Addresses() {
    std::vector<std::uint32_t> addresses;
    const auto buffer = adaptersOf(AF_INET);
    if (buffer.empty())
        return addresses; // none rather than 127.0.0.1
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter;
         adapter = adapter->Next) {
        if (!usable(adapter))
            continue;
        for (auto* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next) {
            const sockaddr* address = unicast->Address.lpSockaddr;
            if (!address || address->sa_family != AF_INET)
                continue;
            const std::uint32_t value =
                ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
            if (isLoopbackAddress(value))
                continue;
            if (std::find(addresses.begin(), addresses.end(), value) == addresses.end())
                addresses.push_back(value);
        }
    }
    return addresses;
}

} // namespace sdk::os
