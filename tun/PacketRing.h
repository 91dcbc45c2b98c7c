#pragma once

// The bytes a session holds for its caller: packets handed out and not yet
// given back. Blocks are taken at the tail and reclaimed from the head in
// order, so a capacity of N bytes never holds more than N, whatever order the
// caller gives packets back in.

#include <cstdint>
#include <memory>

class PacketRing {
public:
    // capacity: a power of two, at least 16 bytes.
    explicit PacketRing(std::uint32_t capacity);

    // Room for a packet of this size, or null when the ring has none.
    std::uint8_t* allocate(std::uint32_t size);

    // Shrinks the packet allocate() returned last, with nothing allocated since;
    // size 0 removes it altogether.
    void trimLast(const std::uint8_t* packet, std::uint32_t size);

    // The size a packet was allocated (or trimmed) with.
    static std::uint32_t sizeOf(const std::uint8_t* packet);

    // Gives a packet back. Its room returns once the packets allocated before it
    // have been given back too; reclaim() reports each one as it leaves, in
    // allocation order.
    void release(const std::uint8_t* packet);
    template <class EachPacket> void reclaim(EachPacket&& each);
    void reclaim() {
        reclaim([](const std::uint8_t*, std::uint32_t) {});
    }

    std::uint32_t capacity() const { return size; }
    std::uint32_t bytesHeld() const { return used; }

private:
    struct BlockHeader {
        std::uint32_t size;     // the packet's bytes; for padding, the padding's
        std::uint32_t released; // 1 for padding and for packets given back
        std::uint32_t padding;  // 1 for the filler that skips the ring's end
        std::uint32_t unused;
    };
    static constexpr std::uint32_t headerSize = sizeof(BlockHeader);
    static std::uint32_t blockLength(std::uint32_t size) {
        return headerSize + ((size + 15u) & ~15u);
    }
    BlockHeader* headerAt(std::uint32_t offset) {
        return reinterpret_cast<BlockHeader*>(storage.get() + offset);
    }

    std::unique_ptr<std::uint8_t[]> storage;
    std::uint32_t size;
    std::uint32_t head = 0; // oldest block
    std::uint32_t tail = 0; // where the next block goes
    std::uint32_t used = 0; // bytes between head and tail, padding included
    std::uint32_t lastOffset = 0;
    std::uint32_t lastPadding = 0;
    std::uint32_t tailBeforeLast = 0;
};

template <class EachPacket> void PacketRing::reclaim(EachPacket&& each) {
    while (used > 0) {
        BlockHeader* block = headerAt(head);
        if (!block->released)
            break;
        if (!block->padding)
            each(storage.get() + head + headerSize, block->size);
        std::uint32_t length = block->padding ? block->size + headerSize : blockLength(block->size);
        head = (head + length) % size;
        used -= length;
    }
    if (used == 0)
        head = tail = 0;
}
