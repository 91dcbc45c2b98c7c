#pragma once

// Receiving the adapter helper's replies: each is one message of the socket
// pair, a creation's carrying the interface's queue (SCM_RIGHTS).

#include "tun/HelperProtocol.h"
#include "tun/UniqueDescriptor.h"

struct ReceivedReply {
    HelperReply reply;
    UniqueDescriptor handed; // -1 when the reply carried none
};

// Waits up to timeLimitMs for the next reply. Returns 0, ETIMEDOUT (none in
// time), EPIPE (the helper ended), EPROTO (a malformed reply) or the
// system's error code.
int receiveHelperReply(int socket, int timeLimitMs, ReceivedReply& received);
