#include "tun/QueueSetup.h"

#include "tun/OffloadedPacket.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <linux/if_tun.h>
#include <net/if.h>
#include <string_view>
#include <sys/ioctl.h>

namespace {
// Newer than the system's headers may be.
// The kernel takes UDP segmentation for both IP versions or for neither; the
// IPv6 super-packets it then sends are dropped, as the program drops IPv6.
constexpr unsigned long tunUso = 0x20 | 0x40;
constexpr unsigned long tunCsum = TUN_F_CSUM;
constexpr unsigned long tunTso4 = TUN_F_TSO4;

bool offloadsWanted() {
    const char* text = std::getenv("VASKOR_TUN_OFFLOAD");
    if (text == nullptr)
        return true;
    const std::string_view value(text);
    return !(value == "0" || value == "off" || value == "no" || value == "false");
}
} // namespace

int tunInterfaceFlags() {
    return IFF_TUN | IFF_NO_PI | (offloadsWanted() ? IFF_VNET_HDR : 0);
}

int setUpQueue(int descriptor, QueueOffloads& offloads) {
    offloads = QueueOffloads{};
    ifreq request{};
    if (ioctl(descriptor, TUNGETIFF, &request) < 0)
        return errno;
    if (!(request.ifr_flags & IFF_VNET_HDR)) {
        // Offloads set by an earlier session would send us super-packets.
        return ioctl(descriptor, TUNSETOFFLOAD, 0ul) < 0 ? errno : 0;
    }
    int headerSize = VnetHeader::size;
    if (ioctl(descriptor, TUNSETVNETHDRSZ, &headerSize) < 0)
        return errno;
    offloads.vnetHeader = true;
    // A queue the adapter helper made carries the header whatever this
    // process was told; switched off, the kernel still sends single packets.
    if (!offloadsWanted())
        return ioctl(descriptor, TUNSETOFFLOAD, 0ul) < 0 ? errno : 0;
    // The richest set the kernel takes: UDP segmentation is newer than TSO.
    for (const unsigned long wanted : {tunCsum | tunTso4 | tunUso, tunCsum | tunTso4, tunCsum, 0ul})
        if (ioctl(descriptor, TUNSETOFFLOAD, wanted) == 0) {
            offloads.kernelOffloads = static_cast<unsigned>(wanted);
            return 0;
        }
    return 0; // the header without offloads: every read one packet
}
