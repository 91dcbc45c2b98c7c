// The adapter entry points: creation, lookup, names and deletion.

#include "tun/Adapters.h"
#include "tun/Logger.h"
#include "interfaces/WintunExports.h"

#include "platform/linux/InterfaceLuid.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <optional>
#include <string>
#include <sys/stat.h>

namespace {

// The caller's NUL-terminated name, read no further than Wintun's limit.
std::optional<std::u16string> nameArgument(const WintunWchar* text) {
    if (text == nullptr)
        return std::nullopt;
    std::u16string name;
    for (std::uint32_t i = 0; i < wintunMaxAdapterName; ++i) {
        if (text[i] == u'\0')
            return isValidAdapterName(name) ? std::optional(name) : std::nullopt;
        name += text[i];
    }
    return std::nullopt;
}

// Runs an entry point's body; no C++ exception crosses the C interface.
template <class Result, class Body> Result guarded(Result failed, Body&& body) {
    try {
        return body();
    } catch (...) {
        logFailure("Out of memory", ENOMEM);
        return failed;
    }
}

WintunAdapterRecord* copyOf(const WintunAdapterRecord& adapter) {
    return new WintunAdapterRecord(adapter);
}

} // namespace

extern "C" {

WintunAdapterHandle WintunCreateAdapter(const WintunWchar* pool, const WintunWchar* name,
                                        const WintunGuid* /*requestedGuid*/,
                                        WintunBool* /*rebootRequired*/) {
    // The requested GUID names the adapter's instance on Windows; Linux has none.
    return guarded<WintunAdapterHandle>(nullptr, [&]() -> WintunAdapterHandle {
        auto poolName = nameArgument(pool);
        auto adapterName = nameArgument(name);
        if (!poolName || !adapterName) {
            logFailure("Invalid pool or adapter name", EINVAL);
            return nullptr;
        }
        std::unique_ptr<WintunAdapterRecord> created;
        if (int rc = createAdapter({*poolName, *adapterName}, created); rc != 0) {
            logFailure("Failed to create adapter", rc);
            return nullptr;
        }
        return created.release();
    });
}

WintunAdapterHandle WintunOpenAdapter(const WintunWchar* pool, const WintunWchar* name) {
    return guarded<WintunAdapterHandle>(nullptr, [&]() -> WintunAdapterHandle {
        auto poolName = nameArgument(pool);
        auto adapterName = nameArgument(name);
        if (!poolName || !adapterName) {
            logFailure("Invalid pool or adapter name", EINVAL);
            return nullptr;
        }
        std::vector<WintunAdapterRecord> adapters;
        if (int rc = listAdapters(adapters); rc != 0) {
            logFailure("Failed to list adapters", rc);
            return nullptr;
        }
        AdapterIdentity wanted{*poolName, *adapterName};
        auto found = std::find_if(adapters.begin(), adapters.end(),
                                  [&](const auto& adapter) { return adapter.identity == wanted; });
        if (found == adapters.end()) {
            errno = ENOENT; // not worth a log line: looking is how callers find out
            return nullptr;
        }
        return copyOf(*found);
    });
}

WintunBool WintunEnumAdapters(const WintunWchar* pool, WintunEnumCallback callback,
                              WintunLParam param) {
    return guarded<WintunBool>(0, [&]() -> WintunBool {
        auto poolName = nameArgument(pool);
        if (!poolName || callback == nullptr) {
            logFailure("Invalid pool or callback", EINVAL);
            return 0;
        }
        std::vector<WintunAdapterRecord> adapters;
        if (int rc = listAdapters(adapters); rc != 0) {
            logFailure("Failed to list adapters", rc);
            return 0;
        }
        for (auto& adapter : adapters) {
            // The handle lives for the length of the callback, as in Wintun.
            if (adapter.identity.pool == *poolName && !callback(&adapter, param))
                break;
        }
        return 1;
    });
}

void WintunFreeAdapter(WintunAdapterHandle adapter) {
    delete adapter;
}

WintunBool WintunDeleteAdapter(WintunAdapterHandle adapter, WintunBool forceCloseSessions,
                               WintunBool* /*rebootRequired*/) {
    return guarded<WintunBool>(0, [&]() -> WintunBool {
        if (adapter == nullptr) {
            logFailure("Invalid adapter", EINVAL);
            return 0;
        }
        if (int rc = deleteAdapter(*adapter, forceCloseSessions != 0); rc != 0) {
            logFailure("Failed to delete adapter", rc);
            return 0;
        }
        return 1;
    });
}

WintunBool WintunDeletePoolDriver(const WintunWchar* pool, WintunBool* /*rebootRequired*/) {
    // The TUN driver belongs to the kernel; what the pool owns is its adapters.
    return guarded<WintunBool>(0, [&]() -> WintunBool {
        auto poolName = nameArgument(pool);
        if (!poolName) {
            logFailure("Invalid pool name", EINVAL);
            return 0;
        }
        std::vector<WintunAdapterRecord> adapters;
        if (int rc = listAdapters(adapters); rc != 0) {
            logFailure("Failed to list adapters", rc);
            return 0;
        }
        int failure = 0;
        for (const auto& adapter : adapters)
            if (adapter.identity.pool == *poolName)
                if (int rc = deleteAdapter(adapter, true); rc != 0)
                    failure = logFailure("Failed to delete adapter", rc);
        if (failure != 0) {
            errno = failure;
            return 0;
        }
        return 1;
    });
}

void WintunGetAdapterLUID(WintunAdapterHandle adapter, WintunLuid* luid) {
    if (adapter != nullptr && luid != nullptr)
        *luid = luidFromInterfaceIndex(adapter->index);
}

WintunBool WintunGetAdapterName(WintunAdapterHandle adapter, WintunWchar* name) {
    return guarded<WintunBool>(0, [&]() -> WintunBool {
        if (adapter == nullptr || name == nullptr) {
            logFailure("Invalid adapter or buffer", EINVAL);
            return 0;
        }
        std::u16string current;
        if (int rc = readAdapterName(*adapter, current); rc != 0) {
            logFailure("Failed to read adapter name", rc);
            return 0;
        }
        std::copy(current.begin(), current.end(), name); // at most 127 units
        name[current.size()] = u'\0';
        return 1;
    });
}

WintunBool WintunSetAdapterName(WintunAdapterHandle adapter, const WintunWchar* name) {
    return guarded<WintunBool>(0, [&]() -> WintunBool {
        auto newName = nameArgument(name);
        if (adapter == nullptr || !newName) {
            logFailure("Invalid adapter or name", EINVAL);
            return 0;
        }
        if (int rc = renameAdapter(*adapter, *newName); rc != 0) {
            logFailure("Failed to set adapter name", rc);
            return 0;
        }
        return 1;
    });
}

WintunDword WintunGetRunningDriverVersion(void) {
    // The kernel's TUN driver: its module version ("1.6" gives 0x00010006)
    // where it has one, else 1.0 while the driver answers at all.
    struct stat device {};
    if (stat("/dev/net/tun", &device) != 0) {
        logFailure("TUN driver not available", errno);
        return 0;
    }
    std::ifstream versionFile("/sys/module/tun/version");
    unsigned major = 0, minor = 0;
    char dot = 0;
    if (versionFile >> major >> dot >> minor && dot == '.')
        return (major << 16) | (minor & 0xFFFF);
    return 0x00010000;
}

void WintunSetLogger(WintunLoggerCallback callback) {
    setLogger(callback);
}

} // extern "C"
