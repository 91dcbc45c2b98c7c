// Whatever a queue with offloads reads (a virtio-net header and a packet),
// cutting it apart stays inside the read and inside each segment's room, and
// every segment is a whole IP packet of at most 64 KiB.

#include "tun/OffloadedPacket.h"

#include <cstdint>
#include <cstdlib>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto plan = OffloadedPacket::of(std::span(data, size));
    if (!plan)
        return 0;
    for (std::size_t i = 0; i < plan->segmentCount(); ++i) {
        const std::size_t length = plan->segmentLength(i);
        if (length == 0 || length > 0xFFFF)
            std::abort();
        // Exactly the room announced: the sanitizer sees a byte more.
        auto segment = std::make_unique<std::uint8_t[]>(length);
        plan->writeSegment(i, segment.get());
    }
    // Every segment carries at least a byte of the read's payload.
    if (plan->segmentCount() > size)
        std::abort();
    return 0;
}
