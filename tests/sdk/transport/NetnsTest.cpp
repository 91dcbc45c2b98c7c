// Two cores on two test machines (network namespaces on one bridge).

#include "tests/support/SdkNodes.h"
#include "tests/support/TestMachines.h"
#include "tests/support/TestUdpSocket.h"

#include "sdk/transport/Keys.h"
#include "sdk/transport/Route.h"

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/ip.h>
#include <netinet/udp.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <span>

using namespace sdktest;
using discord::Result;
using testsupport::TestMachines;

namespace {

class NetnsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root to create network namespaces";
        machines = std::make_unique<TestMachines>(2);
        ASSERT_TRUE(machines->ready);
        a = machines->inside(1, [] {
            return Node::create({{"VASKOR_SDK_ADDRESSES", TestMachines::address(1)}});
        });
        b = machines->inside(2, [] {
            return Node::create({{"VASKOR_SDK_ADDRESSES", TestMachines::address(2)}});
        });
        ASSERT_TRUE(a && b);
        ASSERT_TRUE(
            pumpUntil({a.get(), b.get()}, [&] { return !a->route.empty() && !b->route.empty(); }));
    }

    void TearDown() override {
        a.reset();
        b.reset();
        machines.reset();
    }

    void openBoth() {
        a->open(*b);
        b->open(*a);
    }

    sdk::transport::Endpoint endpointOfB() const {
        return sdk::transport::parseRoute(b->route)->endpoints.at(0);
    }

    std::unique_ptr<TestMachines> machines;
    std::unique_ptr<Node> a;
    std::unique_ptr<Node> b;
};

TEST_F(NetnsTest, MessagesTravelBothWaysOnBothChannels) {
    openBoth();
    const auto small = numberedMessage(1, 64);
    const auto large = numberedMessage(2, 1432);
    const auto huge = numberedMessage(3, 70000);
    a->network().SendMessage(b->peerId, 1, huge.data(), huge.size());
    b->network().SendMessage(a->peerId, 1, small.data(), small.size());
    ASSERT_TRUE(pumpUntil({a.get(), b.get()},
                          [&] { return !a->receivedOn(1).empty() && !b->receivedOn(1).empty(); }));
    EXPECT_EQ(b->receivedOn(1)[0].bytes, huge);
    EXPECT_EQ(a->receivedOn(1)[0].bytes, small);
    for (auto* from : {a.get(), b.get()}) {
        auto* to = from == a.get() ? b.get() : a.get();
        ASSERT_EQ(from->network().SendMessage(to->peerId, 0, large.data(), large.size()),
                  Result::Ok);
    }
    ASSERT_TRUE(pumpUntil({a.get(), b.get()},
                          [&] { return !a->receivedOn(0).empty() && !b->receivedOn(0).empty(); }));
    EXPECT_EQ(a->receivedOn(0)[0].bytes, large);
    EXPECT_EQ(b->receivedOn(0)[0].peer, a->peerId);
}

TEST_F(NetnsTest, ReliableSurvivesLossDuplicationAndReordering) {
    ASSERT_TRUE(machines->impair(1, 2, 10, 10));
    openBoth();
    const std::vector<std::size_t> sizes{1, 64, 1437, 3000, 20000};
    constexpr std::uint32_t count = 1500;
    constexpr std::uint32_t unreliableCount = 500;
    std::uint32_t sent = 0;
    for (std::uint32_t batch = 100; batch <= count; batch += 100) {
        for (; sent < batch; ++sent) {
            const auto message = numberedMessage(sent, sizes[sent % sizes.size()]);
            ASSERT_EQ(a->network().SendMessage(b->peerId, 1, message.data(), message.size()),
                      Result::Ok);
            ASSERT_EQ(b->network().SendMessage(a->peerId, 1, message.data(), message.size()),
                      Result::Ok);
        }
        ASSERT_TRUE(pumpUntil(
            {a.get(), b.get()},
            [&] { return a->receivedOn(1).size() >= sent && b->receivedOn(1).size() >= sent; },
            std::chrono::milliseconds(20000)))
            << "stalled after " << b->receivedOn(1).size();
    }
    for (std::uint32_t i = 0; i < unreliableCount; ++i) {
        const auto message = numberedMessage(i, 200);
        a->network().SendMessage(b->peerId, 0, message.data(), message.size());
    }
    pumpFor({a.get(), b.get()}, std::chrono::milliseconds(300));
    for (auto* node : {a.get(), b.get()}) {
        const auto got = node->receivedOn(1);
        ASSERT_EQ(got.size(), count);
        for (std::uint32_t i = 0; i < count; ++i)
            ASSERT_EQ(got[i].bytes, numberedMessage(i, sizes[i % sizes.size()])) << "message " << i;
    }
    // Unreliable messages may be lost or reordered, but never arrive twice.
    std::set<std::vector<std::uint8_t>> distinct;
    for (const auto& message : b->receivedOn(0))
        EXPECT_TRUE(distinct.insert(message.bytes).second) << "an unreliable message came twice";
    EXPECT_GT(distinct.size(), unreliableCount / 2);
}

TEST_F(NetnsTest, WrongKeyInTheRouteMakesTheConnectionFail) {
    b->open(*a);
    // b's endpoint, someone else's key (and the peer id that goes with it).
    const auto impostor = sdk::transport::KeyPair::generate();
    const std::string route =
        sdk::transport::formatRoute(sdk::transport::Route{impostor.publicKey, {endpointOfB()}});
    const auto impostorId = sdk::transport::peerIdOf(impostor.publicKey);
    ASSERT_EQ(a->network().OpenPeer(impostorId, route.c_str()), Result::Ok);
    ASSERT_EQ(a->network().OpenChannel(impostorId, 0, false), Result::Ok);
    ASSERT_EQ(a->network().OpenChannel(impostorId, 1, true), Result::Ok);
    const std::uint8_t byte = 1;
    a->network().SendMessage(impostorId, 1, &byte, 1);
    pumpFor({a.get(), b.get()}, std::chrono::milliseconds(1500));
    EXPECT_TRUE(b->received.empty());
    EXPECT_EQ(a->network().SendMessage(impostorId, 0, &byte, 1), Result::NotConnected);

    // The right key over the same link connects.
    a->open(*b);
    a->network().SendMessage(b->peerId, 1, &byte, 1);
    EXPECT_TRUE(pumpUntil({a.get(), b.get()}, [&] { return b->received.size() == 1; }));
}

TEST_F(NetnsTest, CapturedDatagramsSentAgainAreNotDeliveredTwice) {
    const int capture = machines->inside(2, [&] {
        const int descriptor = socket(AF_PACKET, SOCK_RAW, htons(ETH_P_IP));
        sockaddr_ll address{};
        address.sll_family = AF_PACKET;
        address.sll_protocol = htons(ETH_P_IP);
        address.sll_ifindex = static_cast<int>(if_nametoindex("eth0"));
        bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address);
        // Datagrams sent as one segmented send cross the veth link as one
        // packet: the header says where the kernel will cut it.
        const int on = 1;
        if (setsockopt(descriptor, SOL_PACKET, PACKET_VNET_HDR, &on, sizeof on) != 0) {
            close(descriptor);
            return -1;
        }
        return descriptor;
    });
    ASSERT_GE(capture, 0);
    const auto port = endpointOfB().port;
    std::vector<std::vector<std::uint8_t>> captured;
    // Linux's virtio_net_hdr, as PACKET_VNET_HDR puts it before each packet.
    struct VnetHeader {
        std::uint8_t flags, gsoType;
        std::uint16_t headerLength, segmentSize, checksumStart, checksumOffset;
    };
    const auto collect = [&] {
        std::vector<std::uint8_t> read(sizeof(VnetHeader) + 65536);
        sockaddr_ll from{};
        socklen_t length = sizeof from;
        ssize_t size = 0;
        while ((size = recvfrom(capture, read.data(), read.size(), MSG_DONTWAIT,
                                reinterpret_cast<sockaddr*>(&from), &length)) > 0) {
            if (from.sll_pkttype != PACKET_HOST || size < static_cast<ssize_t>(sizeof(VnetHeader)))
                continue;
            VnetHeader header{};
            std::memcpy(&header, read.data(), sizeof header);
            const std::uint8_t* packet = read.data() + sizeof header + ETH_HLEN;
            size -= static_cast<ssize_t>(sizeof header + ETH_HLEN);
            const auto* ip = reinterpret_cast<const iphdr*>(packet);
            const std::size_t headerLength = ip->ihl * 4u;
            if (ip->protocol != IPPROTO_UDP || size < static_cast<ssize_t>(headerLength + 8))
                continue;
            const auto* udp = reinterpret_cast<const udphdr*>(packet + headerLength);
            if (ntohs(udp->dest) != port)
                continue;
            const std::uint8_t* payload = packet + headerLength + 8;
            const std::uint8_t* end = packet + size;
            const std::size_t step = header.gsoType == 0 || header.segmentSize == 0
                                         ? static_cast<std::size_t>(end - payload)
                                         : header.segmentSize;
            for (; payload < end; payload += std::min<std::size_t>(step, end - payload))
                captured.emplace_back(payload,
                                      payload + std::min<std::size_t>(step, end - payload));
        }
    };
    openBoth();
    for (std::uint32_t i = 0; i < 30; ++i) {
        const auto message = numberedMessage(i, 100);
        a->network().SendMessage(b->peerId, 1, message.data(), message.size());
    }
    ASSERT_TRUE(pumpUntil({a.get(), b.get()}, [&] {
        collect();
        return b->received.size() == 30;
    }));
    for (std::uint32_t i = 0; i < 30; ++i) {
        const auto message = numberedMessage(100 + i, 100);
        a->network().SendMessage(b->peerId, 0, message.data(), message.size());
    }
    pumpUntil({a.get(), b.get()}, [&] {
        collect();
        return b->received.size() == 60;
    });
    const std::size_t before = b->received.size();
    ASSERT_GT(captured.size(), 60u);

    // Sent again from another machine's socket and from a's own address.
    auto stranger = std::make_unique<testsupport::TestUdpSocket>(
        machines->inside(1, [] { return socket(AF_INET, SOCK_DGRAM, 0); }));
    for (const auto& datagram : captured)
        stranger->sendTo(endpointOfB().ipv4(), endpointOfB().port, datagram);
    pumpFor({a.get(), b.get()}, std::chrono::milliseconds(300));
    EXPECT_EQ(b->received.size(), before) << "a replayed datagram was delivered";
    close(capture);

    // And b still talks to a.
    const std::uint8_t byte = 9;
    a->network().SendMessage(b->peerId, 1, &byte, 1);
    EXPECT_TRUE(pumpUntil({a.get(), b.get()}, [&] { return b->received.size() == before + 1; }));
}

TEST_F(NetnsTest, RandomBytesChangeNothingAndGetNoAnswer) {
    openBoth();
    const std::uint8_t first = 1;
    a->network().SendMessage(b->peerId, 1, &first, 1);
    ASSERT_TRUE(pumpUntil({a.get(), b.get()}, [&] { return b->received.size() == 1; }));
    auto stranger = std::make_unique<testsupport::TestUdpSocket>(
        machines->inside(1, [] { return socket(AF_INET, SOCK_DGRAM, 0); }));
    std::mt19937 random(4);
    for (int i = 0; i < 2000; ++i) {
        std::vector<std::uint8_t> junk(1 + random() % 1500);
        for (auto& byte : junk)
            byte = static_cast<std::uint8_t>(random());
        junk[0] = static_cast<std::uint8_t>(i % 4); // our types among others
        stranger->sendTo(endpointOfB().ipv4(), endpointOfB().port, junk);
        if (i % 200 == 0)
            b->run();
    }
    pumpFor({a.get(), b.get()}, std::chrono::milliseconds(200));
    EXPECT_FALSE(stranger->receive());
    EXPECT_EQ(b->received.size(), 1u);
    const std::uint8_t second = 2;
    a->network().SendMessage(b->peerId, 1, &second, 1);
    EXPECT_TRUE(pumpUntil({a.get(), b.get()}, [&] { return b->received.size() == 2; }));
}

} // namespace

namespace {

// The route lists the machine's own addresses and follows their changes.
// The core is made and run on one thread inside the namespace, as a program
// on that machine would.
TEST(NetnsRoute, ListsTheMachinesAddressesAndReportsAChange) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to create network namespaces";
    TestMachines machines(1);
    ASSERT_TRUE(machines.ready);
    const bool ok = machines.inside(1, [&] {
        auto node = Node::create({{"VASKOR_SDK_ADDRESSES", ""}});
        if (!node)
            return false;
        testThread = std::this_thread::get_id(); // handlers run here, inside
        pumpUntil({node.get()}, [&] { return node->routeUpdates > 0; });
        const auto first = sdk::transport::parseRoute(node->route);
        EXPECT_TRUE(first) << node->route;
        if (!first)
            return false;
        EXPECT_EQ(first->endpoints.size(), 1u) << node->route;
        EXPECT_EQ(first->endpoints.at(0).toString().rfind("10.231.0.1:", 0), 0u) << node->route;
        EXPECT_TRUE(
            machines.shell("ip -n " + machines.name(1) + " addr add 10.231.5.1/24 dev eth0"));
        EXPECT_TRUE(pumpUntil(
            {node.get()}, [&] { return node->routeUpdates == 2; },
            std::chrono::milliseconds(4000)));
        EXPECT_NE(node->route.find("10.231.5.1:"), std::string::npos) << node->route;
        EXPECT_NE(node->route.find("10.231.0.1:"), std::string::npos) << node->route;
        return true;
    });
    testThread = std::this_thread::get_id();
    EXPECT_TRUE(ok);
}

} // namespace
