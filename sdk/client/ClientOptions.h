#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// What vaskor-sdk-client was asked to do.
struct ClientOptions {
    enum class Mode { window, printInvitation, join, printStatus, printMembers, help };
    Mode mode = Mode::window;
    std::optional<std::string> socketPath; // --socket; else found (see resolveSocketPath)
    std::string invitation;                // for join
    std::chrono::milliseconds timeout{0};  // how long to wait for the core
};

// The options, or a text saying what is wrong with the arguments.
std::variant<ClientOptions, std::string>
parseClientOptions(const std::vector<std::string>& arguments);

extern const char* const clientUsage;

// The socket to talk to: --socket, else VASKOR_SDK_CONTROL_SOCKET, else the one
// live core of this user. Throws ControlError saying why there is none.
std::string resolveSocketPath(const ClientOptions& options);
