#pragma once

// The SDK's settings, read from VASKOR_SDK_* environment variables when a core
// is created. The program itself reads none of them.

#include "sdk/transport/Types.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sdk {

struct Settings {
    bool serviceUnavailable = false;                     // VASKOR_SDK_UNAVAILABLE
    std::uint16_t port = 0;                              // VASKOR_SDK_PORT
    std::vector<transport::Endpoint> announcedAddresses; // VASKOR_SDK_ADDRESSES
    std::optional<std::int64_t> userId;                  // VASKOR_SDK_USER_ID
    std::optional<std::string> userName;                 // VASKOR_SDK_USER_NAME
    transport::Milliseconds peerTimeout{10000};          // VASKOR_SDK_PEER_TIMEOUT_MS
    transport::Milliseconds keepAliveInterval{1000};     // VASKOR_SDK_KEEPALIVE_MS
    transport::Milliseconds handshakeRetry{500};         // VASKOR_SDK_HANDSHAKE_RETRY_MS
    bool allowAes = true;                                // VASKOR_SDK_CIPHER
    bool portMapping = true;                             // VASKOR_SDK_PORT_MAPPING
    bool batchDatagrams = true;                          // VASKOR_SDK_BATCH
    // An invitation the user accepted before the program started, as the
    // platform passes one when it launches a game from an invitation.
    std::optional<std::string> launchInvitation; // VASKOR_SDK_JOIN
    // The entry point that fails as if something had thrown inside it, to
    // try a program's handling of failures (EntryGuard.h); none when empty.
    std::string faultAt; // VASKOR_SDK_FAULT

    // Throws std::invalid_argument naming the variable and what is wrong.
    static Settings fromEnvironment();
};

} // namespace sdk
