#include "resources/LibraryBinding.h"

#include "platform/LastError.h"
#include "resources/InMemoryLoad.h"
#include "resources/ResourceFilesystem.h"

WintunApiTable WintunApi{};

namespace {

// What DiscordCreate returns when the embedded SDK library cannot be mapped
// or has no creation entry: the SDK's "service unavailable".
constexpr DiscordResultCode discordServiceUnavailable = 1;

// A fresh copy of an embedded library; the file's known size bounds every read.
InMemoryLibrary* loadEmbeddedLibrary(const char* name) {
    const ResourceFile file = embeddedResources.open(name);
    InMemoryLoadOptions options = systemLoaderOptions();
    options.name = name;
    return loadInMemoryLibraryFrom(file.begin, file.size(), options);
}

// Stores the export in its slot at once, so that a failure leaves the slots
// before it filled and the ones after it untouched.
template <class Function>
bool bindEntry(InMemoryLibrary* library, const char* name, Function*& slot) {
    slot = reinterpret_cast<Function*>(findInMemoryExport(library, name));
    return slot != nullptr;
}

bool bindAllEntries(InMemoryLibrary* library, WintunApiTable& api) {
    return bindEntry(library, "WintunCreateAdapter", api.createAdapter) &&
           bindEntry(library, "WintunDeleteAdapter", api.deleteAdapter) &&
           bindEntry(library, "WintunDeletePoolDriver", api.deletePoolDriver) &&
           bindEntry(library, "WintunEnumAdapters", api.enumAdapters) &&
           bindEntry(library, "WintunFreeAdapter", api.freeAdapter) &&
           bindEntry(library, "WintunOpenAdapter", api.openAdapter) &&
           bindEntry(library, "WintunGetAdapterLUID", api.getAdapterLuid) &&
           bindEntry(library, "WintunGetAdapterName", api.getAdapterName) &&
           bindEntry(library, "WintunSetAdapterName", api.setAdapterName) &&
           bindEntry(library, "WintunGetRunningDriverVersion", api.getRunningDriverVersion) &&
           bindEntry(library, "WintunSetLogger", api.setLogger) &&
           bindEntry(library, "WintunStartSession", api.startSession) &&
           bindEntry(library, "WintunEndSession", api.endSession) &&
           bindEntry(library, "WintunGetReadWaitEvent", api.getReadWaitEvent) &&
           bindEntry(library, "WintunReceivePacket", api.receivePacket) &&
           bindEntry(library, "WintunReleaseReceivePacket", api.releaseReceivePacket) &&
           bindEntry(library, "WintunAllocateSendPacket", api.allocateSendPacket) &&
           bindEntry(library, "WintunSendPacket", api.sendPacket);
}

} // namespace

InMemoryLibrary* bindWintunApi() {
    InMemoryLibrary* library = loadEmbeddedLibrary("wintun.dll");
    if (!library)
        return nullptr;
    if (!bindAllEntries(library, WintunApi)) {
        const std::uint32_t error = lastError();
        freeInMemoryLibrary(library);
        setLastError(error);
        return nullptr;
    }
    return library;
}

AdapterSettingsEntries bindAdapterSettings(InMemoryLibrary* library) {
    AdapterSettingsEntries entries;
    const std::uint32_t error = lastError(); // a missing entry is no failure
    bindEntry(library, "VaskorSetAdapterMtu", entries.setMtu);
    bindEntry(library, "VaskorAddAdapterAddress", entries.addAddress);
    bindEntry(library, "VaskorRemoveAdapterAddress", entries.removeAddress);
    bindEntry(library, "VaskorMarkAdapterPrivate", entries.markPrivate);
    setLastError(error);
    return entries.complete() ? entries : AdapterSettingsEntries{};
}

// Every call maps its own copy of the SDK library, which stays mapped: the
// core it creates lives on in it.
extern "C" DiscordResultCode DiscordCreate(std::uint32_t version, DiscordCreateParams* params,
                                           DiscordCoreInterface** result) {
    using CreateFunction =
        DiscordResultCode(std::uint32_t, DiscordCreateParams*, DiscordCoreInterface**);
    InMemoryLibrary* library = loadEmbeddedLibrary("discord_game_sdk.dll");
    if (!library)
        return discordServiceUnavailable;
    auto* create = reinterpret_cast<CreateFunction*>(findInMemoryExport(library, "DiscordCreate"));
    if (!create) {
        freeInMemoryLibrary(library);
        return discordServiceUnavailable;
    }
    return create(version, params, result);
}
