// WintunAdapter over the fake adapter library (tests/support/fake-adapter):
// what the adapter does with full rings, stale adapters and addresses, and
// that the fake keeps the library's rules the data plane tests rely on.
#include "adapter/WintunAdapter.h"
#include "resources/LibraryBinding.h"
#include "tests/support/fake-adapter/FakeAdapterHub.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

// Each adapter maps its own copy of the library, kept by design.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:bindWintunApi\n";
}

namespace {

using testsupport::FakeAdapter;
using testsupport::FakeAdapterHub;
using testsupport::Packet;

constexpr std::uint32_t ringCapacity = 0x400000; // the adapter's session ring

Packet numbered(std::uint32_t number, std::size_t size = 1400) {
    Packet packet(size, 0);
    packet[0] = 0x45;
    for (std::size_t i = 0; i < 4 && 4 + i < size; ++i)
        packet[4 + i] = static_cast<std::uint8_t>(number >> (8 * i));
    return packet;
}

class FakeAdapterTest : public testing::Test {
protected:
    FakeAdapter& only() {
        const auto all = hub.adapters();
        EXPECT_EQ(all.size(), 1u);
        return *all.back();
    }

    FakeAdapterHub hub;
};

TEST_F(FakeAdapterTest, PacketsPassBothWaysWholeAndInOrder) {
    WintunAdapter adapter;
    FakeAdapter& fake = only();
    EXPECT_TRUE(fake.hasSession());
    EXPECT_EQ(fake.mtu(), adapterMtu);
    EXPECT_TRUE(adapter.receive().empty()) << "nothing waiting: empty at once";

    const Packet small = numbered(1, 1), large = numbered(2, wintunMaxIpPacketSize);
    ASSERT_TRUE(fake.inject(small));
    ASSERT_TRUE(fake.inject(large));
    EXPECT_EQ(adapter.receive(), small);
    EXPECT_EQ(adapter.receive(), large);
    EXPECT_TRUE(adapter.receive().empty());

    adapter.send(numbered(3));
    adapter.send(numbered(4, 20));
    EXPECT_EQ(fake.takeWritten(), (std::vector<Packet>{numbered(3), numbered(4, 20)}));
    EXPECT_TRUE(fake.takeWritten().empty()) << "each packet is taken once";
    EXPECT_FALSE(fake.inject({})) << "the system has no empty packets";
}

TEST_F(FakeAdapterTest, AFullSendRingDropsSilentlyAndSendsAgainOnceRoomReturns) {
    WintunAdapter adapter;
    FakeAdapter& fake = only();
    const std::uint32_t fits = ringCapacity / FakeAdapterHub::roomFor(1400);
    for (std::uint32_t i = 0; i < fits + 10; ++i)
        adapter.send(numbered(i));
    const auto written = fake.takeWritten();
    ASSERT_EQ(written.size(), fits) << "the system read nothing: the ring held what fits";
    EXPECT_EQ(written.back(), numbered(fits - 1));
    adapter.send(numbered(fits + 10));
    EXPECT_EQ(fake.takeWritten(), std::vector<Packet>{numbered(fits + 10)});
}

TEST_F(FakeAdapterTest, TheReceiveRingHoldsWhatFitsAndTakesMoreOnceReceived) {
    WintunAdapter adapter;
    FakeAdapter& fake = only();
    const std::uint32_t fits = ringCapacity / FakeAdapterHub::roomFor(1400);
    for (std::uint32_t i = 0; i < fits; ++i)
        ASSERT_TRUE(fake.inject(numbered(i))) << i;
    EXPECT_FALSE(fake.inject(numbered(fits))) << "lost, as the system's packet would be";
    EXPECT_EQ(adapter.receive(), numbered(0));
    EXPECT_TRUE(fake.inject(numbered(fits + 1))) << "the released packet made room";
}

TEST_F(FakeAdapterTest, AdaptersOfOneNameReplaceEachOtherOnOneThreadOnly) {
    auto first = std::make_unique<WintunAdapter>();
    FakeAdapter& older = only();
    WintunAdapter second; // finds the older by name and deletes it
    EXPECT_TRUE(older.deleted());
    EXPECT_FALSE(older.hasSession());
    first.reset(); // its session and adapter are gone already: errors ignored
    ASSERT_EQ(hub.adapters().size(), 2u);
    EXPECT_FALSE(hub.adapters()[1]->deleted());

    // Another thread is another machine: its adapter of the same name stays.
    std::thread([] { WintunAdapter elsewhere; }).join();
    ASSERT_EQ(hub.adapters().size(), 3u);
    EXPECT_FALSE(hub.adapters()[1]->deleted());
    EXPECT_TRUE(hub.adapters()[2]->deleted()) << "the other thread's adapter ended with it";
}

TEST_F(FakeAdapterTest, TheAddressIsReplacedOnlyWhenItChanges) {
    WintunAdapter adapter;
    FakeAdapter& fake = only();
    EXPECT_FALSE(fake.address());
    adapter.setAddress(Ipv4Cidr::parse("192.168.42.5/24"));
    adapter.setAddress(Ipv4Cidr::parse("192.168.42.5/24"));
    EXPECT_EQ(fake.address(), Ipv4Cidr::parse("192.168.42.5/24"));
    EXPECT_EQ(fake.addressChanges(), 1);
    adapter.setAddress(Ipv4Cidr::parse("10.1.0.9/16"));
    EXPECT_EQ(fake.address(), Ipv4Cidr::parse("10.1.0.9/16"));
    EXPECT_EQ(fake.addressChanges(), 2);
    EXPECT_EQ(hub.adapterWithAddress(Ipv4Cidr::parse("10.1.0.9/16")), &fake);
    EXPECT_EQ(hub.adapterWithAddress(Ipv4Cidr::parse("192.168.42.5/24")), nullptr);
    EXPECT_THROW(adapter.setAddress(Ipv4Cidr::parse("0.0.0.0/24")), std::system_error);
}

// The library's own rules, through the bound entry points.
TEST_F(FakeAdapterTest, TheLibraryKeepsWintunsSessionRules) {
    ASSERT_NE(bindWintunApi(), nullptr);
    WintunBool reboot = 1;
    const WintunGuid guid{};
    WintunAdapterHandle handle = WintunApi.createAdapter(u"Pool", u"Name", &guid, &reboot);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(reboot, 0);
    EXPECT_EQ(WintunApi.createAdapter(u"Pool", u"Name", &guid, &reboot), nullptr);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(WintunApi.startSession(handle, 0x30000), nullptr) << "not a power of two";
    EXPECT_EQ(errno, EINVAL);
    WintunSessionHandle session = WintunApi.startSession(handle, 0x20000);
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(WintunApi.startSession(handle, 0x20000), nullptr);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_FALSE(WintunApi.deleteAdapter(handle, 0, &reboot)) << "a session is attached";

    // Readable while packets wait.
    pollfd wait{
        static_cast<int>(reinterpret_cast<std::intptr_t>(WintunApi.getReadWaitEvent(session))),
        POLLIN, 0};
    EXPECT_EQ(::poll(&wait, 1, 0), 0);
    FakeAdapter& fake = only();
    ASSERT_TRUE(fake.inject(numbered(1, 100)));
    EXPECT_EQ(::poll(&wait, 1, 0), 1);
    WintunDword size = 0;
    std::uint8_t* packet = WintunApi.receivePacket(session, &size);
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(size, 100u);
    EXPECT_EQ(::poll(&wait, 1, 0), 0);
    EXPECT_EQ(WintunApi.receivePacket(session, &size), nullptr);
    EXPECT_EQ(errno, EAGAIN);
    WintunApi.releaseReceivePacket(session, packet);

    // Sent packets leave in the order of their allocation.
    std::uint8_t* a = WintunApi.allocateSendPacket(session, 20);
    std::uint8_t* b = WintunApi.allocateSendPacket(session, 21);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(WintunApi.allocateSendPacket(session, 0), nullptr);
    WintunApi.sendPacket(session, b);
    EXPECT_TRUE(fake.takeWritten().empty());
    WintunApi.sendPacket(session, a);
    const auto written = fake.takeWritten();
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[0].size(), 20u);
    EXPECT_EQ(written[1].size(), 21u);

    WintunApi.endSession(session);
    EXPECT_TRUE(WintunApi.deleteAdapter(handle, 0, &reboot));
    EXPECT_TRUE(fake.deleted());
    WintunApi.freeAdapter(handle);
}

} // namespace
