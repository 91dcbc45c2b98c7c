#pragma once

// Which addresses a peer's route may name as candidates. Ranges that never
// lead to another machine's core (unspecified, multicast, broadcast,
// reserved) or only do so on one link (link-local, which needs a zone we do
// not carry) are refused; loopback only between cores that are themselves
// on loopback. Private and documentation ranges are taken: test networks
// and home networks use them.

#include "sdk/transport/Types.h"

namespace sdk::transport {

enum class AddressScope {
    usable,
    unspecified,
    loopback,
    linkLocal,
    multicast,
    broadcast,
    reserved,
};

AddressScope scopeOf(const Endpoint& endpoint);

// ownLoopback: this core's own endpoints are on loopback.
bool usableCandidate(const Endpoint& endpoint, bool ownLoopback);

} // namespace sdk::transport
