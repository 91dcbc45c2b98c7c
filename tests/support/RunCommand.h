#pragma once

// A shell command on another thread, its standard output kept, while the
// test keeps its cores running (a command that talks to a core needs them).

#include <sys/wait.h>

#include <cstdio>
#include <future>
#include <string>

namespace testsupport {

struct CommandResult {
    int status = -1;
    std::string output;
};

inline std::future<CommandResult> runCommand(const std::string& command) {
    return std::async(std::launch::async, [command] {
        CommandResult result;
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe)
            return result;
        char buffer[512];
        while (const auto size = fread(buffer, 1, sizeof buffer, pipe))
            result.output.append(buffer, size);
        const int status = pclose(pipe);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return result;
    });
}

inline std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

} // namespace testsupport
