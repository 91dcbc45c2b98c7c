#include "sdk/client/ClientOptions.h"

#include "sdk/control/ControlError.h"
#include "sdk/control/ControlSocketPath.h"

#include <charconv>
#include <cstdlib>

const char* const clientUsage =
    "usage: vaskor-sdk-client [--socket PATH]\n"
    "           the game SDK's client window (needs a display)\n"
    "       vaskor-sdk-client invitation [--socket PATH] [--timeout SECONDS]\n"
    "           prints the invitation once the program has opened it (waits 10 s)\n"
    "       vaskor-sdk-client join INVITATION [--socket PATH] [--timeout SECONDS]\n"
    "           gives the program an invitation received from a friend\n"
    "       vaskor-sdk-client status [--socket PATH]\n"
    "           prints the user, the activity and the invitation\n"
    "       vaskor-sdk-client members [--socket PATH]\n"
    "           prints each lobby member: name, direct or relayed, endpoint, round trip\n"
    "PATH defaults to $VASKOR_SDK_CONTROL_SOCKET, else the one running core of this user.\n"
    "Exit status: 0 done, 1 refused or nothing in time, 2 wrong usage, 3 no core to talk to.\n";

namespace {

std::optional<std::chrono::milliseconds> parseSeconds(const std::string& text) {
    unsigned seconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || seconds > 3600)
        return std::nullopt;
    return std::chrono::seconds(seconds);
}

} // namespace

std::variant<ClientOptions, std::string>
parseClientOptions(const std::vector<std::string>& arguments) {
    ClientOptions options;
    std::vector<std::string> words;
    bool timeoutGiven = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            options.mode = ClientOptions::Mode::help;
            return options;
        }
        if (argument == "--socket" || argument == "--timeout") {
            if (i + 1 == arguments.size())
                return argument + " needs a value";
            const std::string& value = arguments[++i];
            if (argument == "--socket") {
                if (value.empty())
                    return std::string("--socket needs a path");
                options.socketPath = value;
            } else {
                const auto timeout = parseSeconds(value);
                if (!timeout)
                    return "--timeout takes whole seconds from 0 to 3600, not '" + value + "'";
                options.timeout = *timeout;
                timeoutGiven = true;
            }
        } else if (argument.starts_with("--")) {
            return "unknown option " + argument;
        } else {
            words.push_back(argument);
        }
    }
    using namespace std::chrono_literals;
    if (words.empty())
        return options;
    if (words[0] == "invitation" && words.size() == 1) {
        options.mode = ClientOptions::Mode::printInvitation;
        if (!timeoutGiven)
            options.timeout = 10s;
        return options;
    }
    if (words[0] == "status" && words.size() == 1) {
        options.mode = ClientOptions::Mode::printStatus;
        if (!timeoutGiven)
            options.timeout = 5s;
        return options;
    }
    if (words[0] == "members" && words.size() == 1) {
        options.mode = ClientOptions::Mode::printMembers;
        if (!timeoutGiven)
            options.timeout = 5s;
        return options;
    }
    if (words[0] == "join" && words.size() == 2) {
        options.mode = ClientOptions::Mode::join;
        options.invitation = words[1];
        if (!timeoutGiven)
            options.timeout = 5s;
        return options;
    }
    if (words[0] == "join")
        return std::string("join takes one invitation (quote it if your shell splits it)");
    return "unknown command '" + words[0] + "'";
}

std::string resolveSocketPath(const ClientOptions& options) {
    if (options.socketPath)
        return *options.socketPath;
    if (const char* chosen = std::getenv(controlSocketSetting); chosen && chosen[0] != '\0')
        return chosen;
    const std::vector<std::string> live = findLiveControlSockets();
    if (live.size() == 1)
        return live.front();
    if (live.empty())
        throw ControlError("no running game SDK core of this user was found in " +
                           controlSocketDirectory() +
                           " (is the program running as this user?); give --socket PATH");
    std::string list;
    for (const auto& path : live)
        list += "\n  " + path;
    throw ControlError("several game SDK cores are running; choose one with --socket:" + list);
}
