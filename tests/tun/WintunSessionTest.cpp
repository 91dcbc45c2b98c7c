// Packets through a session of the library, exchanged with the kernel of a
// network namespace that the test makes.

#include "interfaces/WintunExports.h"
#include "platform/AddressConfig.h"
#include "tests/support/Ipv4Packets.h"
#include "tests/support/NetworkNamespace.h"

#include <gtest/gtest.h>

#include <netinet/in.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

const char* const localText = "10.77.0.1";
const char* const peerText = "10.77.0.2";
constexpr std::uint16_t localPort = 4000;
constexpr std::uint16_t peerPort = 5000;

// An adapter with a session and the address 10.77.0.1/24, in the calling
// thread's namespace.
class SessionFixture {
public:
    explicit SessionFixture(WintunDword capacity = 0x400000) {
        adapter = WintunCreateAdapter(u"Test", u"Session Test", nullptr, nullptr);
        if (adapter == nullptr)
            throw std::runtime_error("cannot create the adapter");
        session = WintunStartSession(adapter, capacity);
        if (session == nullptr)
            throw std::runtime_error("cannot start the session");
        WintunLuid luid = 0;
        WintunGetAdapterLUID(adapter, &luid);
        std::uint32_t index = 0, context = 0, instance = 0;
        if (interfaceIndexOfLuid(luid, index) != 0 ||
            addInterfaceAddress(ipv4Address(localText), htonl(0xFFFFFF00), index, context,
                                instance) != 0)
            throw std::runtime_error("cannot set the address");
    }
    ~SessionFixture() {
        WintunEndSession(session);
        WintunDeleteAdapter(adapter, 1, nullptr);
        WintunFreeAdapter(adapter);
    }

    // The next UDP packet to the peer's port that the kernel routed into the
    // adapter, waiting up to a second. The kernel's own traffic (multicast
    // reports, IPv6 solicitations) is passed over.
    std::optional<std::vector<std::uint8_t>> receive() {
        auto deadline = std::chrono::steady_clock::now() + 1s;
        do {
            WintunDword size = 0;
            if (std::uint8_t* packet = WintunReceivePacket(session, &size)) {
                std::vector<std::uint8_t> copy(packet, packet + size);
                WintunReleaseReceivePacket(session, packet);
                if (isPeerTraffic(copy.data(), size))
                    return copy;
                continue;
            }
            std::this_thread::sleep_for(1ms);
        } while (std::chrono::steady_clock::now() < deadline);
        return std::nullopt;
    }

    static bool isPeerTraffic(const std::uint8_t* packet, std::uint32_t size) {
        auto summary = summarise(packet, size);
        return summary && summary->protocol == IPPROTO_UDP && summary->destinationPort == peerPort;
    }

    // Takes what the kernel sent on its own when the interface came up.
    void drain() {
        std::this_thread::sleep_for(50ms);
        WintunDword size = 0;
        while (std::uint8_t* packet = WintunReceivePacket(session, &size))
            WintunReleaseReceivePacket(session, packet);
    }

    bool send(const std::vector<std::uint8_t>& packet) {
        std::uint8_t* room =
            WintunAllocateSendPacket(session, static_cast<WintunDword>(packet.size()));
        if (room == nullptr)
            return false;
        std::memcpy(room, packet.data(), packet.size());
        WintunSendPacket(session, room);
        return true;
    }

    WintunAdapterHandle adapter = nullptr;
    WintunSessionHandle session = nullptr;
};

class WintunSession : public testing::Test {
protected:
    void SetUp() override { SKIP_UNLESS_NETWORK_ADMIN(); }
};

TEST_F(WintunSession, ExchangesPacketsWithTheKernel) {
    inFreshNetworkNamespace([] {
        SessionFixture fixture;
        UdpSocket socket(ipv4Address(localText), localPort);

        ASSERT_EQ(socket.sendTo(ipv4Address(peerText), peerPort, sequencePayload(41, 300)), 0);
        auto outgoing = fixture.receive();
        ASSERT_TRUE(outgoing);
        auto summary = summarise(outgoing->data(), outgoing->size());
        ASSERT_TRUE(summary);
        EXPECT_EQ(summary->destination, ipv4Address(peerText));
        EXPECT_EQ(summary->destinationPort, peerPort);
        EXPECT_EQ(summary->sequence, 41u);
        EXPECT_EQ(outgoing->size(), 328u) << "a bare IP packet, nothing added";

        auto incoming =
            udpPacket(ipv4Address(peerText), ipv4Address(localText), peerPort, localPort, 500, 42);
        ASSERT_TRUE(fixture.send(incoming));
        auto delivered = socket.receive(1s);
        ASSERT_TRUE(delivered);
        EXPECT_EQ(delivered->size(), 472u);
        EXPECT_EQ(sequenceOf(*delivered), 42u);
    });
}

TEST_F(WintunSession, ReceivingNeverWaitsAndTheWaitHandleIsPollable) {
    inFreshNetworkNamespace([] {
        SessionFixture fixture;
        fixture.drain();
        WintunDword size = 0;
        auto before = std::chrono::steady_clock::now();
        EXPECT_EQ(WintunReceivePacket(fixture.session, &size), nullptr);
        EXPECT_EQ(errno, EAGAIN);
        EXPECT_LT(std::chrono::steady_clock::now() - before, 100ms);

        pollfd wait{static_cast<int>(
                        reinterpret_cast<std::intptr_t>(WintunGetReadWaitEvent(fixture.session))),
                    POLLIN, 0};
        EXPECT_EQ(poll(&wait, 1, 0), 0);
        UdpSocket socket(ipv4Address(localText), localPort);
        ASSERT_EQ(socket.sendTo(ipv4Address(peerText), peerPort, sequencePayload(1, 20)), 0);
        EXPECT_EQ(poll(&wait, 1, 1000), 1);
        EXPECT_TRUE(fixture.receive());
    });
}

// Deleted under the session by someone else: the descriptor polls ready for
// good, so the library must say the adapter is gone rather than "nothing
// waiting", on every call, and sending drops quietly.
TEST_F(WintunSession, AnInterfaceDeletedUnderTheSessionIsReportedAsGone) {
    inFreshNetworkNamespace([] {
        SessionFixture fixture;
        fixture.drain();
        ASSERT_EQ(std::system("ip link delete Session-Test"), 0);
        pollfd wait{static_cast<int>(
                        reinterpret_cast<std::intptr_t>(WintunGetReadWaitEvent(fixture.session))),
                    POLLIN, 0};
        ASSERT_EQ(poll(&wait, 1, 1000), 1) << "a waiter wakes";
        for (int call = 0; call < 3; ++call) {
            errno = 0;
            WintunDword size = 0;
            EXPECT_EQ(WintunReceivePacket(fixture.session, &size), nullptr) << call;
            EXPECT_EQ(errno, wintunAdapterGone) << "call " << call << ": " << std::strerror(errno);
        }
        EXPECT_TRUE(fixture.send(sequencePayload(1, 20))) << "room is still given";
    });
}

TEST_F(WintunSession, RefusesRingCapacitiesWintunRefuses) {
    inFreshNetworkNamespace([] {
        WintunAdapterHandle adapter = WintunCreateAdapter(u"Test", u"Capacity", nullptr, nullptr);
        ASSERT_NE(adapter, nullptr);
        for (WintunDword capacity : {0u, 0x1FFFFu, 0x30000u, 0x8000000u}) {
            EXPECT_EQ(WintunStartSession(adapter, capacity), nullptr) << capacity;
            EXPECT_EQ(errno, EINVAL);
        }
        WintunSessionHandle session = WintunStartSession(adapter, 0x20000);
        EXPECT_NE(session, nullptr);
        WintunEndSession(session);
        WintunDeleteAdapter(adapter, 1, nullptr);
        WintunFreeAdapter(adapter);
    });
}

// The caller holds packets up to the ring's capacity; past it, receiving
// refuses without losing the packet that waits, and the order holds.
TEST_F(WintunSession, TheRingBoundsWhatTheCallerHoldsWithoutLosingPackets) {
    inFreshNetworkNamespace([] {
        constexpr WintunDword capacity = 0x20000;
        constexpr std::uint32_t total = 150;
        SessionFixture fixture(capacity);
        fixture.drain();
        UdpSocket socket(ipv4Address(localText), localPort);
        for (std::uint32_t i = 0; i < total; ++i)
            ASSERT_EQ(socket.sendTo(ipv4Address(peerText), peerPort, sequencePayload(i, 1372)), 0);

        std::vector<std::uint8_t*> held;
        std::vector<std::uint32_t> sequences;
        WintunDword size = 0;
        while (std::uint8_t* packet = WintunReceivePacket(fixture.session, &size)) {
            held.push_back(packet);
            if (SessionFixture::isPeerTraffic(packet, size))
                sequences.push_back(summarise(packet, size)->sequence);
        }
        EXPECT_EQ(errno, ENOBUFS);
        EXPECT_LE(held.size() * 1400, capacity);
        EXPECT_GE(held.size(), capacity / 2 / 1416) << "most of the ring is usable";
        EXPECT_EQ(WintunReceivePacket(fixture.session, &size), nullptr);
        EXPECT_EQ(errno, ENOBUFS);

        // Out-of-order releases free nothing until the oldest goes.
        std::reverse(held.begin(), held.end());
        for (std::uint8_t* packet : held)
            WintunReleaseReceivePacket(fixture.session, packet);
        while (sequences.size() < total) {
            std::uint8_t* packet = WintunReceivePacket(fixture.session, &size);
            ASSERT_NE(packet, nullptr) << "after " << sequences.size() << ": " << errno;
            if (SessionFixture::isPeerTraffic(packet, size))
                sequences.push_back(summarise(packet, size)->sequence);
            WintunReleaseReceivePacket(fixture.session, packet);
        }
        for (std::uint32_t i = 0; i < total; ++i)
            ASSERT_EQ(sequences[i], i);
    });
}

TEST_F(WintunSession, SendRoomIsBoundedAndPacketsLeaveInAllocationOrder) {
    inFreshNetworkNamespace([] {
        constexpr WintunDword capacity = 0x20000;
        SessionFixture fixture(capacity);
        UdpSocket socket(ipv4Address(localText), localPort);

        EXPECT_EQ(WintunAllocateSendPacket(fixture.session, 0), nullptr);
        EXPECT_EQ(errno, EINVAL);
        EXPECT_EQ(WintunAllocateSendPacket(fixture.session, 0x10000), nullptr);
        EXPECT_EQ(errno, EINVAL);

        std::vector<std::uint8_t*> allocated;
        while (std::uint8_t* room = WintunAllocateSendPacket(fixture.session, 1400)) {
            auto packet = udpPacket(ipv4Address(peerText), ipv4Address(localText), peerPort,
                                    localPort, 1400, static_cast<std::uint32_t>(allocated.size()));
            std::memcpy(room, packet.data(), packet.size());
            allocated.push_back(room);
        }
        EXPECT_EQ(errno, ENOBUFS);
        EXPECT_LE(allocated.size() * 1400, capacity);
        EXPECT_GE(allocated.size(), 80u);

        // Sent last-first; they still leave first-first, once the first is sent.
        for (auto room = allocated.rbegin(); room != allocated.rend(); ++room) {
            WintunSendPacket(fixture.session, *room);
            if (room + 1 != allocated.rend()) {
                EXPECT_FALSE(socket.receive(0ms)) << "nothing leaves before the first";
            }
        }
        for (std::uint32_t i = 0; i < allocated.size(); ++i) {
            auto delivered = socket.receive(1s);
            ASSERT_TRUE(delivered) << i;
            EXPECT_EQ(sequenceOf(*delivered), i);
        }
        EXPECT_TRUE(fixture.send(udpPacket(ipv4Address(peerText), ipv4Address(localText), peerPort,
                                           localPort, 1400, 999)))
            << "room returns";
        auto last = socket.receive(1s);
        ASSERT_TRUE(last);
        EXPECT_EQ(sequenceOf(*last), 999u);
    });
}

// Checksums as the peer's kernel checks them: big-endian words, one's complement.
std::uint32_t wordSum(const std::uint8_t* bytes, std::size_t length, std::uint32_t sum = 0) {
    for (std::size_t i = 0; i < length; i += 2)
        sum += static_cast<std::uint32_t>(bytes[i] << 8 | (i + 1 < length ? bytes[i + 1] : 0));
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return sum;
}
bool checksumsHold(const std::vector<std::uint8_t>& packet) {
    const std::size_t ipLength = (packet[0] & 15u) * 4u;
    const std::size_t udpLength = packet.size() - ipLength;
    const std::uint32_t pseudo =
        wordSum(packet.data() + 12, 8) + packet[9] + static_cast<std::uint32_t>(udpLength);
    return wordSum(packet.data(), ipLength) == 0xFFFF &&
           wordSum(packet.data() + ipLength, udpLength, pseudo) == 0xFFFF;
}

// The kernel's own shortcuts stay inside the library: a UDP burst sent as one
// segmented send (one super-packet on an offloaded queue) and a single datagram
// whose checksum the kernel left open both reach the caller as whole packets
// with correct checksums, with offloads on and forced off.
TEST_F(WintunSession, SegmentedSendsArriveAsPacketsWithTheirChecksums) {
    for (const char* offload : {"1", "0"}) {
        SCOPED_TRACE(std::string("VASKOR_TUN_OFFLOAD=") + offload);
        setenv("VASKOR_TUN_OFFLOAD", offload, 1);
        inFreshNetworkNamespace([] {
            SessionFixture fixture;
            fixture.drain();
            UdpSocket socket(ipv4Address(localText), localPort);
            constexpr std::size_t segment = 1000;
            constexpr std::size_t segments = 10;
            std::vector<std::uint8_t> burst;
            for (std::uint32_t i = 0; i < segments; ++i) {
                auto payload = sequencePayload(100 + i, segment - (i + 1 == segments ? 333 : 0));
                burst.insert(burst.end(), payload.begin(), payload.end());
            }
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(peerPort);
            to.sin_addr.s_addr = ipv4Address(peerText);
            iovec bytes{burst.data(), burst.size()};
            alignas(cmsghdr) std::uint8_t control[CMSG_SPACE(sizeof(std::uint16_t))] = {};
            msghdr message{};
            message.msg_name = &to;
            message.msg_namelen = sizeof to;
            message.msg_iov = &bytes;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            cmsghdr* header = CMSG_FIRSTHDR(&message);
            header->cmsg_level = IPPROTO_UDP;
            header->cmsg_type = 103; // UDP_SEGMENT
            header->cmsg_len = CMSG_LEN(sizeof(std::uint16_t));
            const std::uint16_t segmentSize = segment;
            std::memcpy(CMSG_DATA(header), &segmentSize, sizeof segmentSize);
            ASSERT_EQ(sendmsg(socket.descriptor(), &message, 0), static_cast<ssize_t>(burst.size()))
                << std::strerror(errno);
            ASSERT_EQ(socket.sendTo(ipv4Address(peerText), peerPort, sequencePayload(7, 77)), 0);

            for (std::uint32_t i = 0; i <= segments; ++i) {
                SCOPED_TRACE("packet " + std::to_string(i));
                auto packet = fixture.receive();
                ASSERT_TRUE(packet);
                const std::size_t payload =
                    i == segments ? 77 : segment - (i + 1 == segments ? 333 : 0);
                ASSERT_EQ(packet->size(), 28 + payload);
                EXPECT_TRUE(checksumsHold(*packet));
                auto summary = summarise(packet->data(), packet->size());
                ASSERT_TRUE(summary);
                EXPECT_EQ(summary->sequence, i == segments ? 7u : 100u + i);
            }
        });
    }
    unsetenv("VASKOR_TUN_OFFLOAD");
}

// A TCP segment from the peer to this machine, with correct checksums.
std::vector<std::uint8_t> tcpSegment(std::uint32_t sequence, std::uint32_t acknowledgement,
                                     std::uint8_t flags, std::size_t payload,
                                     std::uint16_t identification) {
    std::vector<std::uint8_t> packet(40 + payload);
    std::uint8_t* ip = packet.data();
    ip[0] = 0x45;
    ip[2] = static_cast<std::uint8_t>(packet.size() >> 8);
    ip[3] = static_cast<std::uint8_t>(packet.size());
    ip[4] = static_cast<std::uint8_t>(identification >> 8);
    ip[5] = static_cast<std::uint8_t>(identification);
    ip[6] = 0x40;
    ip[8] = 64;
    ip[9] = IPPROTO_TCP;
    const std::uint32_t from = ipv4Address(peerText), to = ipv4Address(localText);
    std::memcpy(ip + 12, &from, 4);
    std::memcpy(ip + 16, &to, 4);
    const std::uint16_t ipChecksum = htons(static_cast<std::uint16_t>(~wordSum(ip, 20)));
    std::memcpy(ip + 10, &ipChecksum, 2);
    std::uint8_t* tcp = ip + 20;
    const std::uint16_t ports[2] = {htons(7000), htons(6000)};
    std::memcpy(tcp, ports, 4);
    const std::uint32_t numbers[2] = {htonl(sequence), htonl(acknowledgement)};
    std::memcpy(tcp + 4, numbers, 8);
    tcp[12] = 5 << 4;
    tcp[13] = flags;
    tcp[14] = 0xFF;
    tcp[15] = 0xFF;
    for (std::size_t i = 0; i < payload; ++i)
        tcp[20 + i] = static_cast<std::uint8_t>((sequence + i) * 13);
    const std::size_t length = packet.size() - 20;
    const std::uint32_t pseudo =
        wordSum(ip + 12, 8) + IPPROTO_TCP + static_cast<std::uint32_t>(length);
    const std::uint16_t tcpChecksum =
        htons(static_cast<std::uint16_t>(~wordSum(tcp, length, pseudo)));
    std::memcpy(tcp + 16, &tcpChecksum, 2);
    return packet;
}

// A burst of one TCP flow's segments sent through the session (which the
// library may join into one write) reaches the application whole and in
// order: the kernel takes what the library writes, offloads on and off.
TEST_F(WintunSession, TcpBurstReachesTheApplication) {
    for (const char* offload : {"1", "0"}) {
        SCOPED_TRACE(std::string("VASKOR_TUN_OFFLOAD=") + offload);
        setenv("VASKOR_TUN_OFFLOAD", offload, 1);
        inFreshNetworkNamespace([] {
            SessionFixture fixture;
            fixture.drain();
            const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            ASSERT_GE(listener, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(6000);
            address.sin_addr.s_addr = ipv4Address(localText);
            ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
            ASSERT_EQ(listen(listener, 1), 0);

            ASSERT_TRUE(fixture.send(tcpSegment(1000, 0, 0x02, 0, 1))); // SYN
            std::optional<std::uint32_t> serverSequence;
            const auto deadline = std::chrono::steady_clock::now() + 2s;
            while (!serverSequence && std::chrono::steady_clock::now() < deadline) {
                WintunDword size = 0;
                std::uint8_t* packet = WintunReceivePacket(fixture.session, &size);
                if (packet == nullptr) {
                    pollfd ready{static_cast<int>(reinterpret_cast<std::intptr_t>(
                                     WintunGetReadWaitEvent(fixture.session))),
                                 POLLIN, 0};
                    poll(&ready, 1, 100);
                    continue;
                }
                if (size >= 40 && packet[9] == IPPROTO_TCP && packet[20 + 13] == 0x12) {
                    std::uint32_t sequence = 0;
                    std::memcpy(&sequence, packet + 24, 4);
                    serverSequence = ntohl(sequence);
                }
                WintunReleaseReceivePacket(fixture.session, packet);
            }
            ASSERT_TRUE(serverSequence) << "no SYN-ACK";
            const std::uint32_t ack = *serverSequence + 1;
            ASSERT_TRUE(fixture.send(tcpSegment(1001, ack, 0x10, 0, 2)));
            constexpr std::size_t segments = 8, segmentSize = 1000;
            std::vector<std::uint8_t> expected;
            for (std::uint32_t i = 0; i < segments; ++i) {
                const std::uint32_t sequence = 1001 + i * segmentSize;
                const auto packet = tcpSegment(sequence, ack, i + 1 == segments ? 0x18 : 0x10,
                                               segmentSize, static_cast<std::uint16_t>(3 + i));
                expected.insert(expected.end(), packet.begin() + 40, packet.end());
                ASSERT_TRUE(fixture.send(packet));
            }

            pollfd waiting{listener, POLLIN, 0};
            ASSERT_EQ(poll(&waiting, 1, 2000), 1) << "no connection";
            const int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            ASSERT_GE(connection, 0);
            std::vector<std::uint8_t> received;
            while (received.size() < expected.size()) {
                pollfd readable{connection, POLLIN, 0};
                if (poll(&readable, 1, 2000) != 1)
                    break;
                std::uint8_t buffer[4096];
                const ssize_t got = recv(connection, buffer, sizeof buffer, 0);
                if (got <= 0)
                    break;
                received.insert(received.end(), buffer, buffer + got);
            }
            EXPECT_EQ(received, expected);
            close(connection);
            close(listener);
        });
    }
    unsetenv("VASKOR_TUN_OFFLOAD");
}

} // namespace
