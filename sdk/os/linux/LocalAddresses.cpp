#include "sdk/os/LocalAddresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>

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

} // namespace sdk::os
