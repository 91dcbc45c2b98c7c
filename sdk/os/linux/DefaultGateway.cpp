#include "sdk/os/DefaultGateway.h"

#include <arpa/inet.h>

#include <fstream>
#include <sstream>
#include <string>

namespace sdk::os {

// /proc/thread-self, not /proc/self: the thread's namespace, not the process's.
// Fields in hex as the kernel holds them (network byte order in memory).
std::optional<std::uint32_t> defaultGatewayIpv4() {
    std::ifstream table("/proc/thread-self/net/route");
    std::string line;
    std::getline(table, line); // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string name;
        unsigned long destination = 0, gateway = 0, flags = 0;
        if (!(fields >> name >> std::hex >> destination >> gateway >> flags))
            continue;
        constexpr unsigned long up = 0x1, viaGateway = 0x2;
        if (destination == 0 && (flags & up) && (flags & viaGateway) && gateway != 0)
            return ntohl(static_cast<std::uint32_t>(gateway));
    }
    return std::nullopt;
}

} // namespace sdk::os
