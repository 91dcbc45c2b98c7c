#pragma once

// Helpers for tests that run several SDK cores in one process: settings in the
// environment, a core with recorders on its events, and a pump that runs
// callbacks until something happens.

#include "discord/Core.h"
#include "tests/support/PumpUntil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace sdktest {

// The C library's environment, which the SDK library reads too.
inline void setEnvironment(const std::string& name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name.c_str(), value.c_str());
#else
    setenv(name.c_str(), value.c_str(), 1);
#endif
}

inline void unsetEnvironment(const std::string& name) {
#ifdef _WIN32
    _putenv_s(name.c_str(), ""); // an empty value removes it there
#else
    unsetenv(name.c_str());
#endif
}

// Sets environment variables for the life of the object, then puts them back.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::initializer_list<std::pair<std::string, std::string>> values) {
        for (const auto& [name, value] : values) {
            const char* old = std::getenv(name.c_str());
            saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
            setEnvironment(name, value);
        }
    }
    ~ScopedEnvironment() {
        for (const auto& [name, value] : saved) {
            if (value)
                setEnvironment(name, *value);
            else
                unsetEnvironment(name);
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
};

// Every handler checks that it runs inside RunCallbacks on the test's thread.
inline thread_local bool insideRunCallbacks = false;
inline std::thread::id testThread = std::this_thread::get_id();

inline void expectInsideRunCallbacks() {
    EXPECT_TRUE(insideRunCallbacks) << "a callback ran outside RunCallbacks";
    EXPECT_EQ(std::this_thread::get_id(), testThread) << "a callback ran on another thread";
}

struct Received {
    discord::NetworkPeerId peer = 0;
    discord::NetworkChannelId channel = 0;
    std::vector<std::uint8_t> bytes;
};

// One core with everything it reports recorded.
class Node {
public:
    explicit Node(std::unique_ptr<discord::Core> core) : ownedCore(std::move(core)) {
        network().GetPeerId(&peerId);
        network().OnMessage.Connect([this](discord::NetworkPeerId peer,
                                           discord::NetworkChannelId channel, std::uint8_t* data,
                                           std::uint32_t length) {
            expectInsideRunCallbacks();
            received.push_back(Received{peer, channel, {data, data + length}});
        });
        network().OnRouteUpdate.Connect([this](const char* text) {
            expectInsideRunCallbacks();
            route = text;
            ++routeUpdates;
        });
        ownedCore->UserManager().OnCurrentUserUpdate.Connect([this] {
            expectInsideRunCallbacks();
            ++userUpdates;
        });
    }

    // A core on loopback, with extra settings if given.
    static std::unique_ptr<Node>
    create(std::initializer_list<std::pair<std::string, std::string>> settings = {}) {
        // No client window, even where a display is at hand.
        ScopedEnvironment loopback{{"VASKOR_SDK_ADDRESSES", "127.0.0.1"},
                                   {"VASKOR_SDK_CLIENT", "0"}};
        ScopedEnvironment extra(settings);
        discord::Core* core = nullptr;
        const auto result = discord::Core::Create(1, 1, &core);
        if (result != discord::Result::Ok || !core)
            return nullptr;
        return std::make_unique<Node>(std::unique_ptr<discord::Core>(core));
    }

    discord::Core& core() { return *ownedCore; }
    discord::NetworkManager& network() { return ownedCore->NetworkManager(); }
    void destroy() { ownedCore.reset(); }
    bool alive() const { return ownedCore != nullptr; }

    void run() {
        if (!ownedCore)
            return;
        insideRunCallbacks = true;
        ownedCore->RunCallbacks();
        insideRunCallbacks = false;
    }

    // Opens `other` as a peer with channel 0 unreliable and 1 reliable.
    void open(const Node& other) {
        ASSERT_FALSE(other.route.empty()) << "the other core has not reported its route yet";
        ASSERT_EQ(network().OpenPeer(other.peerId, other.route.c_str()), discord::Result::Ok);
        ASSERT_EQ(network().OpenChannel(other.peerId, 0, false), discord::Result::Ok);
        ASSERT_EQ(network().OpenChannel(other.peerId, 1, true), discord::Result::Ok);
    }

    std::vector<Received> receivedOn(discord::NetworkChannelId channel) const {
        std::vector<Received> out;
        for (const auto& message : received)
            if (message.channel == channel)
                out.push_back(message);
        return out;
    }

    discord::NetworkPeerId peerId = 0;
    std::string route;
    int routeUpdates = 0;
    int userUpdates = 0;
    std::vector<Received> received;

private:
    std::unique_ptr<discord::Core> ownedCore;
};

// A node's pass: its callbacks.
inline void pumpOnce(Node& node) {
    node.run();
}

using testsupport::pumpFor;
using testsupport::pumpUntil;

// A message that names its own index and length, to check order and content.
inline std::vector<std::uint8_t> numberedMessage(std::uint32_t index, std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>((index * 31 + i * 7) & 0xff);
    for (std::size_t i = 0; i < 4 && i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(index >> (8 * i));
    return bytes;
}

// Two loopback cores that have each other open and have reported routes.
inline std::pair<std::unique_ptr<Node>, std::unique_ptr<Node>> connectedPair() {
    auto a = Node::create();
    auto b = Node::create();
    if (!a || !b)
        return {};
    pumpUntil({a.get(), b.get()}, [&] { return !a->route.empty() && !b->route.empty(); });
    a->open(*b);
    b->open(*a);
    return {std::move(a), std::move(b)};
}

} // namespace sdktest
