#include "platform/linux/InterfaceView.h"

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>

#include <cstring>
#include <string>

InterfaceView InterfaceView::read() {
    InterfaceView view;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return view;
    std::map<std::string, std::uint32_t> indexByName;
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        // An address label ("eth0:1") names its interface before the colon.
        std::string name = entry->ifa_name;
        name = name.substr(0, name.find(':'));
        const auto [named, added] = indexByName.try_emplace(name, 0);
        if (added)
            named->second = if_nametoindex(name.c_str());
        if (named->second == 0)
            continue;
        Interface& held = view.interfaces[named->second];
        held.up = (entry->ifa_flags & IFF_UP) != 0;
        held.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
        if (entry->ifa_addr == nullptr)
            continue;
        if (entry->ifa_addr->sa_family == AF_PACKET)
            held.linkType = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr)->sll_hatype;
        else if (entry->ifa_addr->sa_family == AF_INET)
            held.addresses.insert(
                reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr);
    }
    freeifaddrs(list);
    return view;
}

std::optional<std::uint32_t> InterfaceView::indexOf(std::uint32_t address) const {
    for (const auto& [index, held] : interfaces)
        if (held.addresses.contains(address))
            return index;
    return std::nullopt;
}

bool InterfaceView::isLan(std::uint32_t index) const {
    const auto found = interfaces.find(index);
    return found != interfaces.end() && found->second.up && !found->second.loopback;
}

bool InterfaceView::isEthernet(std::uint32_t index) const {
    const auto found = interfaces.find(index);
    return found == interfaces.end() || found->second.linkType == ARPHRD_ETHER;
}

bool InterfaceView::sentFrom(std::uint32_t index, std::span<const std::uint8_t> packet) const {
    if (packet.size() < 20)
        return false;
    std::uint32_t source = 0;
    std::memcpy(&source, packet.data() + 12, sizeof source);
    const auto found = interfaces.find(index);
    return found != interfaces.end() && !found->second.loopback &&
           found->second.addresses.contains(source);
}
