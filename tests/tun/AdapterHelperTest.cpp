// The adapter helper as its parent and strangers meet it: the real program,
// started on a socket pair in a network namespace of the test's own.

#include "platform/linux/HelperProcess.h"
#include "tests/support/NetworkNamespace.h"
#include "tun/HelperReceive.h"
#include "tun/UniqueDescriptor.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>

using namespace std::chrono_literals;

namespace {

const AdapterIdentity identity{u"Orvanti VPN", u"Orvanti VPN"};

// Starts the build's helper with this socket as its standard input.
pid_t startTestHelper(int end) {
    pid_t child = -1;
    return startHelper(VASKOR_TEST_ADAPTER_HELPER, end, child) == 0 ? child : -1;
}

// The helper's reply to one request, with the descriptor it handed over.
using Answer = ReceivedReply;

std::optional<Answer> ask(int socket, const std::vector<std::uint8_t>& request) {
    if (send(socket, request.data(), request.size(), MSG_NOSIGNAL) < 0)
        return std::nullopt;
    Answer answer;
    if (receiveHelperReply(socket, 10000, answer) != 0)
        return std::nullopt;
    return answer;
}

std::vector<std::uint8_t> about(HelperRequestKind kind, const std::string& interfaceName,
                                std::uint32_t mtu = 0, const char* address = nullptr,
                                int prefix = 0) {
    HelperInterfaceRequest request{kind, interfaceName, mtu, 0, prefix};
    if (address != nullptr)
        request.address = inet_addr(address);
    auto bytes = encodeHelperRequest(request);
    if (!bytes)
        throw std::runtime_error("the test's request does not encode");
    return *bytes;
}

int interfaceMtu(const char* name) {
    UniqueDescriptor probe(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ifreq request{};
    std::strncpy(request.ifr_name, name, IFNAMSIZ - 1);
    return ioctl(probe.get(), SIOCGIFMTU, &request) == 0 ? request.ifr_mtu : -1;
}

// Every IPv4 address of the namespace, as "name a.b.c.d".
std::vector<std::string> addresses() {
    std::vector<std::string> found;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return found;
    for (ifaddrs* item = list; item != nullptr; item = item->ifa_next)
        if (item->ifa_addr != nullptr && item->ifa_addr->sa_family == AF_INET)
            found.push_back(std::string(item->ifa_name) + " " +
                            inet_ntoa(reinterpret_cast<sockaddr_in*>(item->ifa_addr)->sin_addr));
    freeifaddrs(list);
    return found;
}

bool waitUntilGone(const char* name) {
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (if_nametoindex(name) != 0) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

class AdapterHelperTest : public testing::Test {
protected:
    void SetUp() override { SKIP_UNLESS_NETWORK_ADMIN(); }
};

TEST_F(AdapterHelperTest, ServesItsParentsAdapterAloneAndRemovesItWhenTheParentLetsGo) {
    inFreshNetworkNamespace([] {
        int pair[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
        UniqueDescriptor ours(pair[0]), theirs(pair[1]);
        pid_t helper = startTestHelper(theirs.get());
        ASSERT_GT(helper, 0);
        theirs.reset();

        auto created = ask(ours.get(), *encodeHelperCreate(identity));
        ASSERT_TRUE(created);
        ASSERT_EQ(created->reply.error, 0) << created->reply.text;
        EXPECT_EQ(created->reply.text, "Orvanti-VPN");
        EXPECT_EQ(created->reply.index, if_nametoindex("Orvanti-VPN"));
        ASSERT_GE(created->handed.get(), 0) << "the interface's queue comes with the reply";

        for (const auto& request :
             {about(HelperRequestKind::up, "Orvanti-VPN"),
              about(HelperRequestKind::setMtu, "Orvanti-VPN", 1412),
              about(HelperRequestKind::addAddress, "Orvanti-VPN", 0, "10.77.0.1", 24)}) {
            auto answer = ask(ours.get(), request);
            ASSERT_TRUE(answer);
            EXPECT_EQ(answer->reply.error, 0) << answer->reply.text;
        }
        EXPECT_EQ(interfaceMtu("Orvanti-VPN"), 1412);
        EXPECT_EQ(addresses(), (std::vector<std::string>{"lo 127.0.0.1", "Orvanti-VPN 10.77.0.1"}));

        struct Refusal {
            const char* what;
            std::vector<std::uint8_t> request;
            int error;
        };
        auto ipv6 = about(HelperRequestKind::addAddress, "Orvanti-VPN", 0, "10.77.0.9", 24);
        ipv6[1 + 1 + 11] = 6; // the family byte after the interface name
        const Refusal refusals[] = {
            {"another interface's MTU", about(HelperRequestKind::setMtu, "lo", 1280), EPERM},
            {"another interface's address",
             about(HelperRequestKind::addAddress, "lo", 0, "10.78.0.1", 24), EPERM},
            {"removing another interface", about(HelperRequestKind::remove, "lo"), EPERM},
            {"an IPv6 family", ipv6, EINVAL},
            {"a second address",
             about(HelperRequestKind::addAddress, "Orvanti-VPN", 0, "10.77.0.2", 24), EEXIST},
            {"a second adapter", *encodeHelperCreate({u"Other", u"Other"}), EEXIST},
            {"garbage", {0xFF, 0x00, 0x13}, EINVAL},
        };
        for (const auto& refusal : refusals) {
            auto answer = ask(ours.get(), refusal.request);
            ASSERT_TRUE(answer) << refusal.what;
            EXPECT_EQ(answer->reply.error, refusal.error) << refusal.what;
            EXPECT_FALSE(answer->reply.text.empty()) << refusal.what << ": a reason is given";
        }
        EXPECT_EQ(interfaceMtu("lo"), 65536) << "nothing changed";
        EXPECT_EQ(addresses(), (std::vector<std::string>{"lo 127.0.0.1", "Orvanti-VPN 10.77.0.1"}));
        EXPECT_EQ(if_nametoindex("Other"), 0u);

        // Our end closes as when the program ends or crashes; our copy of the
        // queue stays open, so the helper's removal alone takes the interface.
        ours.reset();
        EXPECT_TRUE(waitUntilGone("Orvanti-VPN"));
        EXPECT_EQ(childExitStatus(helper), 0);
    });
}

TEST_F(AdapterHelperTest, RefusesACallerThatIsNotItsParent) {
    inFreshNetworkNamespace([] {
        int pair[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
        UniqueDescriptor stranger(pair[0]), handed(pair[1]);
        // This process holds the other end; a child of ours starts the helper.
        pid_t middle = fork();
        if (middle == 0) {
            pid_t helper = startTestHelper(handed.get());
            _exit(helper > 0 ? childExitStatus(helper) : 99);
        }
        handed.reset();
        ASSERT_GT(middle, 0);
        auto request = *encodeHelperCreate(identity);
        send(stranger.get(), request.data(), request.size(), MSG_NOSIGNAL);
        pollfd ready{stranger.get(), POLLIN, 0};
        ASSERT_EQ(poll(&ready, 1, 10000), 1) << "neither an answer nor the end";
        // The helper ended with our request unread: the kernel reports a reset.
        std::uint8_t byte = 0;
        errno = 0;
        ssize_t answer = recv(stranger.get(), &byte, 1, MSG_DONTWAIT);
        EXPECT_TRUE(answer == 0 || (answer < 0 && errno == ECONNRESET))
            << "no answer, only the end: " << answer << " " << std::strerror(errno);
        EXPECT_EQ(if_nametoindex("Orvanti-VPN"), 0u) << "nothing was created";
        stranger.reset();
        EXPECT_EQ(childExitStatus(middle), 1) << "the helper refused and ended";
    });
}

TEST_F(AdapterHelperTest, TheAdapterGoesWhenItsProgramIsKilled) {
    inFreshNetworkNamespace([] {
        int ready[2];
        ASSERT_EQ(pipe2(ready, O_CLOEXEC), 0);
        UniqueDescriptor readEnd(ready[0]), writeEnd(ready[1]);
        pid_t program = fork();
        if (program == 0) {
            int pair[2];
            if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0 ||
                startTestHelper(pair[1]) <= 0)
                _exit(1);
            close(pair[1]);
            auto created = ask(pair[0], *encodeHelperCreate(identity));
            char done = created && created->reply.error == 0 ? 'y' : 'n';
            [[maybe_unused]] auto written = write(writeEnd.get(), &done, 1);
            for (;;)
                pause();
        }
        ASSERT_GT(program, 0);
        writeEnd.reset();
        char done = 0;
        ASSERT_EQ(read(readEnd.get(), &done, 1), 1);
        ASSERT_EQ(done, 'y');
        ASSERT_NE(if_nametoindex("Orvanti-VPN"), 0u);
        kill(program, SIGKILL);
        EXPECT_EQ(childExitStatus(program), 128 + SIGKILL);
        EXPECT_TRUE(waitUntilGone("Orvanti-VPN")) << "the killed program's adapter remains";
    });
}

} // namespace
