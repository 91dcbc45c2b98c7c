// A stand-in for the SDK library: its creation entry records what it was
// given in the probe that the test passes as the parameters, and returns the
// probe's chosen result.

#include "DiscordProbe.h"

namespace {
int copyMarker = 0; // one per mapped copy of this library
}

extern "C" __attribute__((visibility("default"))) DiscordResultCode
DiscordCreate(std::uint32_t version, DiscordCreateParams* params, DiscordCoreInterface** result) {
    auto* probe = reinterpret_cast<DiscordProbe*>(params);
    probe->version = version;
    probe->result = result;
    probe->copyMarker = &copyMarker;
    ++probe->calls;
    return probe->answer;
}
