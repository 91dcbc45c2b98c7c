#include "tests/support/fake-adapter/RunsInOneProcess.h"

#include "sdk/control/ControlClient.h"
#include "sdk/control/ControlSocketPath.h"
#include "tests/support/Ipv4Packets.h"
#include "tests/support/PumpUntil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <optional>

namespace testsupport {

namespace {

bool waitFor(const std::function<bool()>& done) {
    return pumpUntil([] {}, done);
}

} // namespace

bool Party::got(const Packet& packet) const {
    return std::find(written.begin(), written.end(), packet) != written.end();
}

RunsInOneProcess::RunsInOneProcess() {
    ::unsetenv(controlSocketSetting);
    ::unsetenv("VASKOR_SDK_UNAVAILABLE");
    ::unsetenv("VASKOR_SDK_PORT");
}

std::string RunsInOneProcess::newControlSocket() {
    std::string found;
    waitFor([&] {
        for (const std::string& path : findLiveControlSockets())
            if (!sockets.contains(path))
                found = path;
        return !found.empty();
    });
    EXPECT_FALSE(found.empty()) << "the run's core has no control socket";
    sockets.insert(found);
    return found;
}

void RunsInOneProcess::awaitAddress(Party& party, const char* address) {
    party.address = Ipv4Cidr::parse(address);
    ASSERT_TRUE(waitFor([&] {
        party.adapter = hub.adapterWithAddress(party.address);
        return party.adapter != nullptr && party.run->address() == party.address;
    })) << "run "
        << parties.size() - 1 << " has no address " << address;
}

void RunsInOneProcess::startHost(const char* address) {
    Party& host = parties.emplace_back();
    host.run = std::make_unique<Vpn>(Ipv4Cidr::parse(address));
    const std::string socket = newControlSocket();
    ASSERT_FALSE(socket.empty());
    ASSERT_NO_FATAL_FAILURE(awaitAddress(host, address));

    host.run->requestInvite();
    ControlClient window(socket);
    ASSERT_TRUE(waitFor([&] {
        window.poll();
        return window.hasState() && !window.state().invitation.empty();
    })) << "the host shows no invitation";
    invitation = window.state().invitation;
}

void RunsInOneProcess::join(const char* address) {
    Party& member = parties.emplace_back();
    member.run = std::make_unique<Vpn>();
    const std::string socket = newControlSocket();
    ASSERT_FALSE(socket.empty());
    ControlClient window(socket);
    window.sendJoin(invitation);
    std::optional<ControlAnswer> answer;
    ASSERT_TRUE(waitFor([&] {
        window.poll();
        return (answer = window.takeAnswer()).has_value();
    })) << "the member's core did not answer the invitation";
    ASSERT_TRUE(answer->accepted) << answer->error;
    ASSERT_NO_FATAL_FAILURE(awaitAddress(member, address));
}

void RunsInOneProcess::collect() {
    for (Party& party : parties)
        if (party.adapter != nullptr)
            for (Packet& packet : party.adapter->takeWritten())
                party.written.push_back(std::move(packet));
}

bool RunsInOneProcess::collectUntil(const std::function<bool()>& done) {
    return waitFor([&] {
        collect();
        return done();
    });
}

bool RunsInOneProcess::reachesAllOthers(std::size_t sender, const Packet& packet) {
    return collectUntil([&] {
        for (std::size_t i = 0; i < parties.size(); ++i)
            if (i != sender && !parties[i].got(packet))
                return false;
        return true;
    });
}

void RunsInOneProcess::reachEveryone(std::size_t sender) {
    std::vector<Packet> tries;
    int polls = 0;
    ASSERT_TRUE(waitFor([&] {
        if (polls++ % 250 == 0) {
            tries.push_back(udpFrom(sender, "255.255.255.255"));
            parties[sender].adapter->inject(tries.back());
        }
        collect();
        for (std::size_t i = 0; i < parties.size(); ++i)
            if (i != sender && std::none_of(tries.begin(), tries.end(),
                                            [&](const Packet& p) { return parties[i].got(p); }))
                return false;
        return true;
    })) << "run "
        << sender << " cannot reach every other run";
}

Packet RunsInOneProcess::sendMarker(std::size_t sender) {
    Packet marker = udpFrom(sender, "255.255.255.255");
    EXPECT_TRUE(parties[sender].adapter->inject(marker));
    EXPECT_TRUE(reachesAllOthers(sender, marker)) << "the marker did not arrive";
    return marker;
}

Packet RunsInOneProcess::udpFrom(std::size_t sender, const char* destination, std::size_t length) {
    return udpPacket(parties[sender].address.address, ipv4Address(destination), 40000, 9, length,
                     ++sequence);
}

std::vector<std::uint64_t> RunsInOneProcess::sentCounts() const {
    std::vector<std::uint64_t> counts;
    for (const Party& party : parties)
        counts.push_back(party.run->sentBytes());
    return counts;
}

std::vector<std::uint64_t> RunsInOneProcess::receivedCounts() const {
    std::vector<std::uint64_t> counts;
    for (const Party& party : parties)
        counts.push_back(party.run->receivedBytes());
    return counts;
}

} // namespace testsupport
