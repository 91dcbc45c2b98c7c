#include "tun/PacketRing.h"

#include <new>

PacketRing::PacketRing(std::uint32_t capacity)
    : storage(new std::uint8_t[capacity]), size(capacity) {}

std::uint8_t* PacketRing::allocate(std::uint32_t packetSize) {
    if (packetSize > size)
        return nullptr;
    std::uint32_t need = blockLength(packetSize);
    if (used == 0)
        head = tail = 0;
    std::uint32_t padding = 0;
    if (used == 0 || tail > head) {
        // Free: from the tail to the end, and from the start to the head.
        if (size - tail < need) {
            if (head < need)
                return nullptr;
            padding = size - tail;
        }
    } else if (head - tail < need) {
        return nullptr; // free only between tail and head
    }
    tailBeforeLast = tail;
    if (padding != 0) {
        *headerAt(tail) = BlockHeader{padding - headerSize, 1, 1, 0};
        tail = 0;
    }
    lastOffset = tail;
    lastPadding = padding;
    *headerAt(tail) = BlockHeader{packetSize, 0, 0, 0};
    tail = (tail + need) % size;
    used += padding + need;
    return storage.get() + lastOffset + headerSize;
}

void PacketRing::trimLast(const std::uint8_t* packet, std::uint32_t packetSize) {
    BlockHeader* block = headerAt(lastOffset);
    (void)packet; // always the block at lastOffset
    std::uint32_t oldLength = blockLength(block->size);
    if (packetSize == 0) {
        used -= oldLength + lastPadding;
        tail = tailBeforeLast;
        if (used == 0)
            head = tail = 0;
        return;
    }
    std::uint32_t newLength = blockLength(packetSize);
    block->size = packetSize;
    used -= oldLength - newLength;
    tail = (lastOffset + newLength) % size;
}

std::uint32_t PacketRing::sizeOf(const std::uint8_t* packet) {
    return reinterpret_cast<const BlockHeader*>(packet - headerSize)->size;
}

void PacketRing::release(const std::uint8_t* packet) {
    const_cast<BlockHeader*>(reinterpret_cast<const BlockHeader*>(packet - headerSize))->released =
        1;
}
