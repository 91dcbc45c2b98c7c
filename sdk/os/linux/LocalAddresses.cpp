#include "sdk/os/LocalAddresses.h"

#include "sdk/os/linux/Inet6Flags.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>

namespace sdk::os {

bool isLoopbackAddress(std::uint32_t address) {
    return (address >> 24) == 127;
}

std::vector<std::uint32_t> localIpv4Addresses() {
    std::vector<std::uint32_t> addresses;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
        for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
            // Point-to-point interfaces are tunnels, this program's own adapter
            // among them: a peer reached through one would be reached through us.
            if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET ||
                !(entry->ifa_flags & IFF_UP) || (entry->ifa_flags & IFF_LOOPBACK) ||
                (entry->ifa_flags & IFF_POINTOPOINT))
                continue;
            const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
            const std::uint32_t value = ntohl(address->sin_addr.s_addr);
            if (isLoopbackAddress(value))
                continue;
            if (std::find(addresses.begin(), addresses.end(), value) == addresses.end())
                addresses.push_back(value);
        }
        freeifaddrs(list);
    }
    // Nothing found (getifaddrs fails without a free descriptor): announce
    // nothing rather than an address that names every member's own machine.
    return addresses;
}

namespace {
// The kernel's flags of addresses that are not this machine's to announce:
// temporary (0x01), failed duplicate detection (0x08), deprecated (0x20),
// tentative (0x40).
constexpr unsigned unusableFlags = 0x01 | 0x08 | 0x20 | 0x40;

std::vector<std::string> unusableIpv6Addresses() {
    // The calling thread's namespace, which may not be the process's.
    std::ifstream list("/proc/thread-self/net/if_inet6");
    return ipv6AddressesFlagged(list, unusableFlags);
}

std::string hexOf(const Endpoint::Bytes& bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (const auto byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}
} // namespace

std::vector<Endpoint::Bytes> localIpv6Addresses() {
    std::vector<Endpoint::Bytes> addresses;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return addresses;
    const auto unusable = unusableIpv6Addresses();
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET6 ||
            !(entry->ifa_flags & IFF_UP) || (entry->ifa_flags & IFF_LOOPBACK) ||
            (entry->ifa_flags & IFF_POINTOPOINT))
            continue;
        const auto* address = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
        Endpoint::Bytes value{};
        std::memcpy(value.data(), &address->sin6_addr, value.size());
        if ((value[0] & 0xe0) != 0x20)
            continue;
        if (std::find(unusable.begin(), unusable.end(), hexOf(value)) != unusable.end())
            continue;
        if (std::find(addresses.begin(), addresses.end(), value) == addresses.end())
            addresses.push_back(value);
    }
    freeifaddrs(list);
    return addresses;
}

} // namespace sdk::os
