#pragma once

#include "sdk/control/ControlClient.h"
#include "sdk/control/ControlServer.h"
#include "tests/support/PumpUntil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>
#include <thread>

// A fresh directory under /tmp, removed with everything in it.
class TemporaryDirectory {
public:
    TemporaryDirectory() {
        std::string pattern = "/tmp/vaskor-control-test-XXXXXX";
        path = ::mkdtemp(pattern.data()) ? pattern : "";
        EXPECT_FALSE(path.empty()) << "cannot create a temporary directory";
    }
    ~TemporaryDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string file(const std::string& name) const { return path + "/" + name; }

    std::string path;
};

// Polls the server and the clients, as their loops would, until done() or 5 s.
inline bool pumpUntil(ControlServer& server, std::initializer_list<ControlClient*> clients,
                      const std::function<bool()>& done) {
    return testsupport::pumpUntil(
        [&] {
            server.poll();
            for (ControlClient* client : clients)
                client->poll();
        },
        done);
}

// Sets an environment variable for one scope.
class ScopedSetting {
public:
    ScopedSetting(const char* name, const std::string& value) : name(name) {
        if (const char* old = std::getenv(name))
            previous = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedSetting() {
        if (previous)
            ::setenv(name, previous->c_str(), 1);
        else
            ::unsetenv(name);
    }

private:
    const char* name;
    std::optional<std::string> previous;
};
