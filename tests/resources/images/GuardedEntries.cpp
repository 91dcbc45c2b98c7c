// A library with its own C++ runtime whose entry points throw inside it,
// each behind the SDK's entry guard: the program that maps it and calls
// them sees result codes. The guard's log line is kept for the program.

#include "sdk/core/EntryGuard.h"

#include <cstdio>
#include <stdexcept>

namespace {
char lastFailure[256] = "";
} // namespace

void sdk::reportEntryFailure(const char* entry, const char* what) {
    std::snprintf(lastFailure, sizeof lastFailure, "%s failed: %s", entry, what);
}

// setType throws a standard exception for type 99, setCapacity anything
// else for capacity 99; both succeed otherwise.
extern "C" __declspec(dllexport) DiscordLobbyTransaction* NewThrowingTransaction() {
    auto* transaction = new DiscordLobbyTransaction{};
    transaction->setType = [](DiscordLobbyTransaction*, std::int32_t type) {
        if (type == 99)
            throw std::runtime_error("thrown inside the library");
        return DiscordResultCode{DiscordResult_Ok};
    };
    transaction->setCapacity = [](DiscordLobbyTransaction*, std::uint32_t capacity) {
        if (capacity == 99)
            throw 99;
        return DiscordResultCode{DiscordResult_Ok};
    };
    transaction->release = [](DiscordLobbyTransaction* self) { delete self; };
    sdk::guardEntry<&DiscordLobbyTransaction::setType, "setType">(*transaction);
    sdk::guardEntry<&DiscordLobbyTransaction::setCapacity, "setCapacity">(*transaction);
    sdk::guardEntry<&DiscordLobbyTransaction::release, "release">(*transaction);
    return transaction;
}

extern "C" __declspec(dllexport) const char* LastEntryFailure() {
    return lastFailure;
}
