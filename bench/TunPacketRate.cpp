// Packets per second through our Wintun library's session calls, next to the
// same loop on a raw TUN descriptor, for 64- and 1400-byte packets.
//
// Run as root: build/bench/tun_packet_rate [packets-per-round] [rounds]
// Everything happens in a network namespace of its own.
//
// Receiving: the kernel queues a round of UDP packets routed into each
// interface (the queue is made long enough), then the timed loop drains them.
// Sending: the timed loop writes a round of packets for an address beyond the
// interface, which the kernel drops at routing (forwarding is off).

#include "platform/AddressConfig.h"
#include "platform/linux/Netlink.h"
#include "tests/support/Ipv4Packets.h"
#include "interfaces/WintunExports.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <linux/if_tun.h>
#include <net/if.h>
#include <netlink/route/link.h>
#include <sched.h>
#include <stdexcept>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t queueLength = 100000;

void check(int rc, const char* what) {
    if (rc != 0)
        throw std::runtime_error(std::string(what) + ": " + std::strerror(rc));
}

void prepareInterface(std::uint32_t index, const char* address) {
    check(
        changeLink(index, [](rtnl_link& changes) { rtnl_link_set_txqlen(&changes, queueLength); }),
        "queue length");
    std::uint32_t context = 0, instance = 0;
    check(addInterfaceAddress(ipv4Address(address), htonl(0xFFFFFF00), index, context, instance),
          "address");
}

// Drains everything queued; returns the number of packets taken.
using Drain = std::function<std::size_t()>;
// Writes these packets.
using Write = std::function<void(const std::vector<std::vector<std::uint8_t>>&)>;

double receiveRate(UdpSocket& sender, const char* destination, std::size_t size,
                   std::size_t packets, const Drain& drain) {
    drain();
    auto payload = sequencePayload(0, size - 28);
    for (std::size_t i = 0; i < packets; ++i)
        check(sender.sendTo(ipv4Address(destination), 9, payload), "sendto");
    auto start = Clock::now();
    std::size_t taken = drain();
    std::chrono::duration<double> elapsed = Clock::now() - start;
    if (taken < packets)
        throw std::runtime_error("the kernel dropped packets: " + std::to_string(taken));
    return taken / elapsed.count();
}

double sendRate(const std::vector<std::vector<std::uint8_t>>& round, const Write& write) {
    auto start = Clock::now();
    write(round);
    std::chrono::duration<double> elapsed = Clock::now() - start;
    return round.size() / elapsed.count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    std::size_t packets = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 20000;
    int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    packets = std::min<std::size_t>(std::max<std::size_t>(packets, 100), queueLength / 2);
    try {
        if (unshare(CLONE_NEWNET) != 0)
            throw std::runtime_error(std::string("needs root for a network namespace: ") +
                                     std::strerror(errno));
        check(setLinkUp(if_nametoindex("lo")), "loopback");

        WintunAdapterHandle adapter = WintunCreateAdapter(u"Bench", u"Bench", nullptr, nullptr);
        if (adapter == nullptr)
            throw std::runtime_error("cannot create the adapter");
        WintunSessionHandle session = WintunStartSession(adapter, 0x400000);
        if (session == nullptr)
            throw std::runtime_error("cannot start the session");
        prepareInterface(if_nametoindex("Bench"), "10.44.0.1");

        int raw = open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
        ifreq request{};
        std::strcpy(request.ifr_name, "rawtun");
        request.ifr_flags = IFF_TUN | IFF_NO_PI;
        if (raw < 0 || ioctl(raw, TUNSETIFF, &request) != 0)
            throw std::runtime_error("cannot open the raw TUN interface");
        prepareInterface(if_nametoindex("rawtun"), "10.45.0.1");
        UdpSocket sender(0, 0);

        std::vector<std::uint8_t> buffer(65536);
        Drain rawRead = [&] {
            std::size_t n = 0;
            while (read(raw, buffer.data(), buffer.size()) > 0)
                ++n;
            return n;
        };
        Drain wintunReceive = [&] {
            std::size_t n = 0;
            WintunDword size = 0;
            while (std::uint8_t* packet = WintunReceivePacket(session, &size)) {
                WintunReleaseReceivePacket(session, packet);
                ++n;
            }
            return n;
        };
        // As the engine's adapter does: each packet copied into its own vector.
        Drain wintunReceiveCopy = [&] {
            std::size_t n = 0;
            WintunDword size = 0;
            while (std::uint8_t* packet = WintunReceivePacket(session, &size)) {
                std::vector<std::uint8_t> copy(packet, packet + size);
                WintunReleaseReceivePacket(session, packet);
                n += !copy.empty();
            }
            return n;
        };
        Write rawWrite = [&](const auto& round) {
            for (const auto& packet : round)
                if (write(raw, packet.data(), packet.size()) < 0)
                    throw std::runtime_error("raw write failed");
        };
        Write wintunSend = [&](const auto& round) {
            for (const auto& packet : round) {
                std::uint8_t* room =
                    WintunAllocateSendPacket(session, static_cast<WintunDword>(packet.size()));
                if (room == nullptr)
                    throw std::runtime_error("no send room");
                std::memcpy(room, packet.data(), packet.size());
                WintunSendPacket(session, room);
            }
        };

        std::printf("%zu packets per round, median of %d rounds, one thread\n", packets, rounds);
        std::printf("%-6s %-42s %14s %8s\n", "bytes", "path", "packets/s", "vs raw");
        for (std::size_t size : {64u, 1400u}) {
            auto rawRound = std::vector<std::vector<std::uint8_t>>(
                packets, udpPacket(ipv4Address("10.45.0.2"), ipv4Address("10.45.0.3"), 9, 9, size));
            auto wintunRound = std::vector<std::vector<std::uint8_t>>(
                packets, udpPacket(ipv4Address("10.44.0.2"), ipv4Address("10.44.0.3"), 9, 9, size));
            struct Row {
                const char* path;
                std::function<double()> measure;
                bool isRaw;
            };
            const Row rows[] = {
                {"receive: raw read()",
                 [&] { return receiveRate(sender, "10.45.0.2", size, packets, rawRead); }, true},
                {"receive: WintunReceivePacket + Release",
                 [&] { return receiveRate(sender, "10.44.0.2", size, packets, wintunReceive); },
                 false},
                {"receive: the same, copied to a vector",
                 [&] { return receiveRate(sender, "10.44.0.2", size, packets, wintunReceiveCopy); },
                 false},
                {"send: raw write()", [&] { return sendRate(rawRound, rawWrite); }, true},
                {"send: WintunAllocateSendPacket + Send",
                 [&] { return sendRate(wintunRound, wintunSend); }, false},
            };
            // Rounds alternate between the paths so that a busy moment of the
            // machine does not fall on one path alone.
            std::vector<std::vector<double>> rates(std::size(rows));
            for (int round = 0; round < rounds; ++round)
                for (std::size_t row = 0; row < std::size(rows); ++row)
                    rates[row].push_back(rows[row].measure());
            double rawRate = 0;
            for (std::size_t row = 0; row < std::size(rows); ++row) {
                double rate = median(rates[row]);
                if (rows[row].isRaw)
                    rawRate = rate;
                std::printf("%-6zu %-42s %14.0f %8.2f\n", size, rows[row].path, rate,
                            rate / rawRate);
            }
        }
        close(raw);
        WintunEndSession(session);
        WintunDeleteAdapter(adapter, 1, nullptr);
        WintunFreeAdapter(adapter);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tun_packet_rate: %s\n", error.what());
        return 1;
    }
    return 0;
}
