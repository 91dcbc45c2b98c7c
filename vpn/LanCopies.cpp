// The run's side of LAN discovery (vpn/Discovery.h): the setting, the start
// once the adapter has its address, and the copies of what local programs
// sent on the LAN, for the members.
#include "vpn/NetworkRun.h"
#include "vpn/Vpn.h"

#include <cstdio>
#include <cstdlib>
#include <string>

bool NetworkRun::readDiscoverySetting() {
    const char* value = std::getenv(lanDiscoveryVariable);
    if (Discovery::readSetting(value))
        return true;
    vpn.fail(std::string(lanDiscoveryVariable) + " is \"" + value +
             "\"; it takes on or off (1, yes, true or 0, no, false).");
    return false;
}

void NetworkRun::startDiscovery(const Ipv4Cidr& address) {
    std::optional<LanSideError> error = discovery.start(address.address);
    if (!error)
        return;
    // The installed program holds no privilege by design: nothing for a
    // person to answer, the VPN itself works.
    if (error->noRights)
        std::fprintf(stderr, "vaskor-vpn: %s\n", error->reason.c_str());
    else
        vpn.postMessage(error->reason);
}

void NetworkRun::copyLanDiscovery() {
    for (std::vector<std::uint8_t> copy = discovery.nextForMembers(); !copy.empty();
         copy = discovery.nextForMembers()) {
        vpn.addSent(copy.size());
        if (lobbyHasAnotherMember())
            sendToEveryMember(copy.data(), static_cast<std::uint32_t>(copy.size()));
    }
}
