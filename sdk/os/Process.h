#pragma once

// This process, and the programs it starts (the client window).

#include "sdk/os/Handle.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sdk::os {

using ProcessId = std::int64_t;

ProcessId currentProcessId();

// A program this process started, stopped on destruction: asked to end, and
// ended after a second if it has not.
class ChildProcess {
public:
    explicit ChildProcess(ProcessId pid) : pid(pid) {}
#ifdef _WIN32
    // Windows: the process's handle, so that its id is never another's.
    ChildProcess(ProcessId pid, Handle process) : pid(pid), process(process) {}
#endif
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    ProcessId processId() const {
        return pid;
    }
    // False once it has ended (it is then reaped).
    bool running();

private:
    ProcessId pid;
    bool reaped = false;
#ifdef _WIN32
    OwnedHandle process;
#endif
};

struct StartedProcess {
    std::unique_ptr<ChildProcess> process; // empty when it could not start
    std::string failure;                   // why not, for a person
};

// Starts program with the arguments, in this process's environment. It
// reads nothing, inherits no handle of ours but the standard output and error,
// and takes signals as a fresh program does, whatever this thread blocks or
// ignores, so that stopping it works.
StartedProcess startProcess(const std::string& program, const std::vector<std::string>& arguments);

bool isExecutable(const std::string& path);

// The folder of the library this code was loaded from, when it was loaded
// from a file: a copy mapped from memory has no folder to look in.
std::optional<std::string> libraryDirectory();
// The folder of the running program.
std::optional<std::string> programDirectory();

} // namespace sdk::os
