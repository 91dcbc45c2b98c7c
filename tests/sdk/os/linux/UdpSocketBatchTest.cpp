// The socket's batches on loopback: what is queued arrives as the same
// datagrams, in order, whatever runs of sizes and peers the queue holds; and
// a batched receive hands out each datagram whole, with its sender.

#include "sdk/os/UdpSocket.h"
#include "tests/support/TestUdpSocket.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace {

using sdk::os::Endpoint;
using sdk::os::ReceivedBatch;
using sdk::os::UdpSocket;
using testsupport::TestUdpSocket;

std::vector<std::uint8_t> datagramOf(std::size_t size, std::size_t serial) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(serial * 31 + i);
    return bytes;
}

struct QueueCase {
    const char* name;
    // Sizes in queue order; to peer 0 or 1.
    std::vector<std::pair<std::size_t, int>> datagrams;
};

std::vector<std::pair<std::size_t, int>> repeated(std::size_t count, std::size_t size, int peer) {
    return std::vector<std::pair<std::size_t, int>>(count, {size, peer});
}

std::vector<std::pair<std::size_t, int>> joined(std::vector<std::pair<std::size_t, int>> a,
                                                const std::vector<std::pair<std::size_t, int>>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class UdpSocketQueueTest : public ::testing::TestWithParam<std::tuple<QueueCase, bool>> {};

TEST_P(UdpSocketQueueTest, QueuedDatagramsArriveWholeAndInOrder) {
    const auto& [queueCase, batched] = GetParam();
    UdpSocket socket(0, batched);
    // Receivers with room for every case's datagrams at once.
    UdpSocket peers[2]{UdpSocket(0), UdpSocket(0)};
    std::vector<std::vector<std::uint8_t>> expected[2];
    for (std::size_t serial = 0; serial < queueCase.datagrams.size(); ++serial) {
        const auto [size, peer] = queueCase.datagrams[serial];
        auto bytes = datagramOf(size, serial);
        ASSERT_TRUE(socket.queue(Endpoint{INADDR_LOOPBACK, peers[peer].port()}, bytes));
        expected[peer].push_back(std::move(bytes));
    }
    socket.sendQueued();
    EXPECT_FALSE(socket.hasQueued());
    for (int peer = 0; peer < 2; ++peer) {
        std::vector<std::vector<std::uint8_t>> arrived;
        std::vector<std::uint8_t> buffer(65536);
        Endpoint from;
        while (const auto size = peers[peer].receive(buffer, from))
            arrived.emplace_back(buffer.begin(), buffer.begin() + static_cast<long>(*size));
        ASSERT_EQ(arrived.size(), expected[peer].size()) << "peer " << peer;
        for (std::size_t i = 0; i < arrived.size(); ++i)
            EXPECT_EQ(arrived[i], expected[peer][i]) << "peer " << peer << ", datagram " << i;
    }
}

const QueueCase queueCases[] = {
    {"OneDatagram", {{1400, 0}}},
    // Runs longer than one segmented send and than one batch.
    {"ManyOfOneSize", repeated(150, 1400, 0)},
    {"RunWithShortLast", joined(repeated(10, 1400, 0), {{300, 0}, {1400, 0}, {1400, 0}})},
    // A longer datagram after a shorter one cannot join its run.
    {"GrowingSizes", {{100, 0}, {200, 0}, {200, 0}, {1400, 0}, {1400, 0}, {64, 0}}},
    {"TwoPeersInterleaved",
     {{1400, 0}, {1400, 1}, {1400, 0}, {1400, 0}, {1400, 1}, {1400, 1}, {1400, 0}}},
    {"SmallDatagramsFillTheBatch", repeated(200, 64, 1)},
    // 8 KiB datagrams: the queue's bytes, not its count, make it leave; runs
    // of them stop at the segmented send's length.
    {"LargeDatagrams", repeated(40, 8192, 0)},
};

INSTANTIATE_TEST_SUITE_P(Cases, UdpSocketQueueTest,
                         ::testing::Combine(::testing::ValuesIn(queueCases), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "Batched" : "OneByOne");
                         });

TEST(UdpSocketQueue, SendToLeavesAfterWhatIsQueued) {
    UdpSocket socket(0);
    TestUdpSocket peer;
    const Endpoint to{INADDR_LOOPBACK, peer.port()};
    ASSERT_TRUE(socket.queue(to, datagramOf(100, 1)));
    EXPECT_FALSE(peer.receive()) << "a queued datagram left before its time";
    ASSERT_TRUE(socket.sendTo(to, datagramOf(100, 2)));
    EXPECT_EQ(peer.receive(), datagramOf(100, 1));
    EXPECT_EQ(peer.receive(), datagramOf(100, 2));
}

TEST(UdpSocketReceive, BatchesHoldEveryDatagramWithItsSender) {
    for (const bool batched : {true, false}) {
        UdpSocket socket(0, batched);
        TestUdpSocket first, second;
        constexpr std::size_t count = sdk::os::datagramBatchSize + 7;
        for (std::size_t serial = 0; serial < count; ++serial)
            (serial % 3 == 0 ? second : first)
                .sendTo(INADDR_LOOPBACK, socket.port(), datagramOf(10 + serial, serial));
        // One slot byte more than the largest datagram the caller accepts.
        ReceivedBatch batch(200);
        std::size_t seen = 0;
        std::size_t calls = 0;
        while (const std::size_t taken = socket.receiveBatch(batch)) {
            ++calls;
            ASSERT_EQ(taken, batch.count());
            for (std::size_t i = 0; i < taken; ++i, ++seen) {
                EXPECT_EQ(std::vector(batch.datagram(i).begin(), batch.datagram(i).end()),
                          datagramOf(10 + seen, seen));
                const auto& sender = seen % 3 == 0 ? second : first;
                EXPECT_EQ(batch.source(i), (Endpoint{INADDR_LOOPBACK, sender.port()}));
            }
        }
        EXPECT_EQ(seen, count);
        EXPECT_EQ(calls, batched ? 2u : count) << (batched ? "batched" : "one by one");
        EXPECT_EQ(batch.count(), 0u);
    }
}

TEST(UdpSocketReceive, LongerDatagramIsCutToItsSlot) {
    UdpSocket socket(0);
    TestUdpSocket sender;
    sender.sendTo(INADDR_LOOPBACK, socket.port(), datagramOf(500, 1));
    sender.sendTo(INADDR_LOOPBACK, socket.port(), datagramOf(20, 2));
    ReceivedBatch batch(100);
    ASSERT_EQ(socket.receiveBatch(batch), 2u);
    const auto cut = datagramOf(500, 1);
    EXPECT_EQ(std::vector(batch.datagram(0).begin(), batch.datagram(0).end()),
              std::vector(cut.begin(), cut.begin() + 100));
    EXPECT_EQ(std::vector(batch.datagram(1).begin(), batch.datagram(1).end()), datagramOf(20, 2));
}

} // namespace
