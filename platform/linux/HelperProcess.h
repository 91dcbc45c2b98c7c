#pragma once

#include <string>
#include <sys/types.h>

// Our privileged helpers run as children of the program they serve, taking
// its requests on their standard input: one end of a sequenced-packet socket
// pair whose other end the program keeps.

// Starts the helper at `path` with `helperEnd` as its standard input, its path
// as its only argument and an empty environment (nothing of this process's is
// the helper's business). 0 with `child` set, or posix_spawn's error.
int startHelper(const std::string& path, int helperEnd, pid_t& child);

// Waits for a child of ours to end (a helper does once its socket is closed):
// its exit status, 128 plus the signal that ended it, or -1 when it is not a
// child of ours.
int childExitStatus(pid_t child);
