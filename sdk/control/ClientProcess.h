#pragma once

// Starting the client window for a core:
//   VASKOR_SDK_CLIENT        "1", "yes", "on", "true" (the default) start it,
//                            "0", "no", "off", "false" never; another value
//                            is a mistake, and the window is not started
//   VASKOR_SDK_CLIENT_PATH   the program to start; default vaskor-sdk-client
//                            next to the SDK library, else next to the running
//                            program, else the copy this build made
// It starts only when a display exists (DISPLAY or WAYLAND_DISPLAY set), as
// "<program> --socket <path>"; it ends by itself when the socket closes.

#include "sdk/os/Display.h"
#include "sdk/os/Process.h"

#include <memory>
#include <optional>
#include <string>

inline constexpr const char* clientEnabledSetting = "VASKOR_SDK_CLIENT";
inline constexpr const char* clientPathSetting = "VASKOR_SDK_CLIENT_PATH";
#ifdef _WIN32
inline constexpr const char* clientProgramName = "vaskor-sdk-client.exe";
#else
inline constexpr const char* clientProgramName = "vaskor-sdk-client";
#endif

// The client window program of one core, stopped on destruction.
using ClientProcess = sdk::os::ChildProcess;

struct ClientLaunch {
    std::unique_ptr<ClientProcess> process; // empty when not started
    std::string note;                       // why not, or what was started
};

// Reads a setting; the environment unless a test says otherwise.
using SettingLookup = sdk::os::SettingLookup;
std::optional<std::string> environmentSetting(const char* name);

// The program to start, or nothing when none is found.
std::optional<std::string> findClientProgram(const SettingLookup& setting = environmentSetting);

// Starts the client window for the control socket at socketPath when there is
// a display and the settings allow it. Never throws; a failure is only a note.
ClientLaunch startClientProcess(const std::string& socketPath,
                                const SettingLookup& setting = environmentSetting);
