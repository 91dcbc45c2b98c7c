#include "platform/linux/GroupMirror.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string readIgmpTable() {
    std::ifstream file("/proc/net/igmp");
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool isRoutableGroup(std::uint32_t group) {
    const std::uint32_t value = ntohl(group);
    return (value & 0xf0000000u) == 0xe0000000u && (value & 0xffffff00u) != 0xe0000000u;
}

} // namespace

GroupMirror::GroupMirror() : descriptor(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    // Never bound: it holds memberships and receives nothing itself.
    const int off = 0;
    if (descriptor >= 0)
        setsockopt(descriptor, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off);
}

GroupMirror::~GroupMirror() {
    if (descriptor >= 0)
        close(descriptor); // leaves every group
}

std::set<std::uint32_t> GroupMirror::wanted(const std::vector<GroupMembership>& memberships,
                                            std::uint32_t adapterIndex) {
    std::set<std::uint32_t> groups;
    for (const GroupMembership& membership : memberships)
        if (membership.interfaceIndex != adapterIndex && isRoutableGroup(membership.group) &&
            groups.size() < largest)
            groups.insert(membership.group);
    return groups;
}

void GroupMirror::mirrorOnto(std::uint32_t adapterIndex) {
    if (descriptor < 0)
        return;
    if (adapterIndex != joinedOn) {
        for (std::uint32_t group : joined)
            change(IP_DROP_MEMBERSHIP, group);
        joined.clear();
        joinedOn = adapterIndex;
    }
    const std::set<std::uint32_t> groups = wanted(parseIgmpTable(readIgmpTable()), adapterIndex);
    for (auto it = joined.begin(); it != joined.end();)
        if (!groups.contains(*it)) {
            change(IP_DROP_MEMBERSHIP, *it);
            it = joined.erase(it);
        } else {
            ++it;
        }
    for (std::uint32_t group : groups)
        if (!joined.contains(group) && change(IP_ADD_MEMBERSHIP, group))
            joined.insert(group);
}

bool GroupMirror::change(int option, std::uint32_t group) const {
    ip_mreqn request{};
    request.imr_multiaddr.s_addr = group;
    request.imr_ifindex = static_cast<int>(joinedOn);
    return setsockopt(descriptor, IPPROTO_IP, option, &request, sizeof request) == 0;
}
