#include "tun/PacketRing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <random>
#include <vector>

namespace {

constexpr std::uint32_t capacity = 4096;

TEST(PacketRing, HoldsNoMoreThanItsCapacity) {
    PacketRing ring(capacity);
    std::vector<std::uint8_t*> held;
    while (std::uint8_t* packet = ring.allocate(100))
        held.push_back(packet);
    // 100 bytes take a 16-byte header and 112 bytes of room.
    EXPECT_EQ(held.size(), capacity / 128);
    EXPECT_LE(ring.bytesHeld(), capacity);
    EXPECT_EQ(ring.allocate(1), nullptr);
    EXPECT_EQ(ring.allocate(capacity + 1), nullptr);
}

TEST(PacketRing, RoomReturnsOnlyWhenTheOldestIsGivenBack) {
    PacketRing ring(capacity);
    std::vector<std::uint8_t*> held;
    while (std::uint8_t* packet = ring.allocate(100))
        held.push_back(packet);
    ring.release(held[1]);
    ring.reclaim();
    EXPECT_EQ(ring.allocate(100), nullptr) << "the first packet still holds the head";
    ring.release(held[0]);
    ring.reclaim();
    EXPECT_NE(ring.allocate(100), nullptr);
    EXPECT_NE(ring.allocate(100), nullptr);
    EXPECT_EQ(ring.allocate(100), nullptr);
}

TEST(PacketRing, ReclaimsInAllocationOrderWhateverTheReleaseOrder) {
    PacketRing ring(capacity);
    std::vector<std::uint8_t*> held;
    for (std::uint8_t tag = 0; tag < 10; ++tag) {
        std::uint8_t* packet = ring.allocate(50 + tag);
        *packet = tag;
        held.push_back(packet);
    }
    std::vector<int> order;
    auto record = [&](const std::uint8_t* packet, std::uint32_t size) {
        order.push_back(*packet);
        EXPECT_EQ(size, 50u + *packet);
    };
    for (int i : {3, 1, 2, 9, 0})
        ring.release(held[i]);
    ring.reclaim(record);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
    for (int i : {8, 7, 6, 5, 4})
        ring.release(held[i]);
    ring.reclaim(record);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(ring.bytesHeld(), 0u);
}

TEST(PacketRing, TrimmingTheLastPacketGivesItsRoomBack) {
    PacketRing ring(capacity);
    std::uint8_t* first = ring.allocate(1000);
    std::uint8_t* large = ring.allocate(2000);
    ring.trimLast(large, 100);
    EXPECT_EQ(PacketRing::sizeOf(large), 100u);
    EXPECT_EQ(ring.bytesHeld(), 1024u + 128);
    std::uint8_t* cancelled = ring.allocate(2000);
    ring.trimLast(cancelled, 0);
    EXPECT_EQ(ring.bytesHeld(), 1024u + 128);
    ring.release(first);
    ring.release(large);
    ring.reclaim();
    EXPECT_EQ(ring.bytesHeld(), 0u);
}

TEST(PacketRing, CancellingAWrappedPacketAlsoDropsItsPadding) {
    PacketRing ring(capacity);
    std::uint8_t* a = ring.allocate(3000);
    std::uint8_t* b = ring.allocate(500);
    ring.release(a);
    ring.reclaim(); // free: the start (3016 bytes) and the end (560 bytes)
    std::uint32_t before = ring.bytesHeld();
    std::uint8_t* wrapped = ring.allocate(1000);
    ASSERT_NE(wrapped, nullptr);
    EXPECT_GT(ring.bytesHeld(), before + 1016) << "the skipped end counts while in use";
    ring.trimLast(wrapped, 0);
    EXPECT_EQ(ring.bytesHeld(), before);
    ring.release(b);
    ring.reclaim();
    EXPECT_EQ(ring.bytesHeld(), 0u);
}

// Random traffic against a model: contents survive, the bound always holds,
// and the ring empties completely.
TEST(PacketRing, RandomTrafficKeepsEveryPacketIntact) {
    PacketRing ring(capacity);
    std::mt19937 random(7);
    std::deque<std::pair<std::uint8_t*, std::vector<std::uint8_t>>> held;
    for (int step = 0; step < 20000; ++step) {
        if (random() % 2 && !held.empty()) {
            auto victim = held.begin() + random() % held.size();
            ASSERT_EQ(std::memcmp(victim->first, victim->second.data(), victim->second.size()), 0);
            ring.release(victim->first);
            ring.reclaim();
            held.erase(victim);
        } else {
            std::vector<std::uint8_t> bytes(1 + random() % 700);
            std::generate(bytes.begin(), bytes.end(), [&] { return random() & 0xFF; });
            if (std::uint8_t* packet = ring.allocate(static_cast<std::uint32_t>(bytes.size()))) {
                std::memcpy(packet, bytes.data(), bytes.size());
                held.emplace_back(packet, bytes);
            }
        }
        ASSERT_LE(ring.bytesHeld(), capacity);
    }
    for (auto& [packet, bytes] : held) {
        ASSERT_EQ(std::memcmp(packet, bytes.data(), bytes.size()), 0);
        ring.release(packet);
    }
    ring.reclaim();
    EXPECT_EQ(ring.bytesHeld(), 0u);
    EXPECT_NE(ring.allocate(capacity - 16), nullptr);
}

} // namespace
