#include "interfaces/DiscordCreate.h"

#include "interfaces/DiscordSdk.h"
#include "sdk/core/SdkCore.h"

#include <cstdio>
#include <exception>
#include <new>
#include <stdexcept>

namespace {
bool tableVersionOk(const void* table, std::uint32_t version) {
    return !table || version == discordEventTableVersion;
}

bool tableVersionsOk(const DiscordCreateParams& params) {
    return tableVersionOk(params.userEvents, params.userVersion) &&
           tableVersionOk(params.activityEvents, params.activityVersion) &&
           tableVersionOk(params.relationshipEvents, params.relationshipVersion) &&
           tableVersionOk(params.lobbyEvents, params.lobbyVersion) &&
           tableVersionOk(params.networkEvents, params.networkVersion) &&
           tableVersionOk(params.overlayEvents, params.overlayVersion) &&
           tableVersionOk(params.storeEvents, params.storeVersion) &&
           tableVersionOk(params.voiceEvents, params.voiceVersion) &&
           tableVersionOk(params.achievementEvents, params.achievementVersion);
}

// Creation failures are the one thing the SDK tells a person about: the
// program only sees a result code.
void report(const char* what) {
    std::fprintf(stderr, "game SDK: %s\n", what);
}
} // namespace

#ifdef _WIN32
#define VASKOR_SDK_ENTRY // exports.def names it
#else
#define VASKOR_SDK_ENTRY __attribute__((visibility("default")))
#endif

extern "C" VASKOR_SDK_ENTRY DiscordResultCode DiscordCreate(std::uint32_t version,
                                                            DiscordCreateParams* params,
                                                            DiscordCoreInterface** result) {
    if (!result)
        return DiscordResult_InvalidArgument;
    *result = nullptr;
    if (version != discordInterfaceVersion || (params && !tableVersionsOk(*params)))
        return DiscordResult_InvalidVersion;
    if (!params)
        return DiscordResult_InvalidArgument;
    // Nothing may leave here for the program: every failure is a result code.
    try {
        const sdk::Settings settings = sdk::Settings::fromEnvironment();
        if (settings.serviceUnavailable)
            return DiscordResult_ServiceUnavailable;
        if (settings.faultAt == "DiscordCreate")
            throw std::logic_error("failure injected");
        auto* core = new sdk::SdkCore(*params, settings);
        if ((params->flags & DiscordCreateFlags_VaskorWaitHandle) != 0)
            params->waitHandle = core->waitHandle();
        *result = core;
        return DiscordResult_Ok;
    } catch (const std::invalid_argument& error) {
        report(error.what());
        return DiscordResult_InvalidArgument;
    } catch (const std::bad_alloc&) {
        report("out of memory");
        return DiscordResult_InternalError;
    } catch (const std::runtime_error& error) {
        report(error.what()); // the network cannot start: a socket, a port
        return DiscordResult_NetworkError;
    } catch (const std::exception& error) {
        report(error.what());
        return DiscordResult_InternalError;
    } catch (...) {
        report("an unknown exception");
        return DiscordResult_InternalError;
    }
}
