#pragma once

#include "sdk/client/ClientOptions.h"

#include <ostream>

// Exit statuses of the command line.
namespace exitStatus {
inline constexpr int done = 0;
inline constexpr int refused = 1; // refused, or nothing in time
inline constexpr int usage = 2;
inline constexpr int noCore = 3;
} // namespace exitStatus

// Runs the printInvitation, join or printStatus command; returns the exit status. The
// invitation goes to out alone, everything for a person to err.
int runControlCommand(const ClientOptions& options, std::ostream& out, std::ostream& err);
