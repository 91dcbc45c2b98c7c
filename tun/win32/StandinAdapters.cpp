#include "tun/win32/StandinAdapters.h"

#include <windows.h>

#include <iphlpapi.h>
#include <netioapi.h>

#include <algorithm>
#include <new>

namespace {

constexpr std::uint64_t ifTypePropVirtual = 53;

bool runningUnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

WintunAdapterHandle handleFor(std::shared_ptr<StandinAdapter> adapter) {
    auto* handle = new (std::nothrow) WintunAdapterRecord{std::move(adapter)};
    if (handle == nullptr)
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return handle;
}

} // namespace

bool validAdapterName(const WintunWchar* name) {
    if (name == nullptr)
        return false;
    std::size_t length = 0;
    for (; name[length] != 0; ++length)
        if (length + 1 >= wintunMaxAdapterName || name[length] < 0x20 || name[length] == 0x7F)
            return false;
    return length > 0;
}

WintunLuid standinLuid(std::uint32_t index) {
    if (runningUnderWine()) {
        NET_LUID loopback{};
        if (ConvertInterfaceIndexToLuid(1, &loopback) == NO_ERROR)
            return loopback.Value;
    }
    // NetLuidIndex (bits 24 to 47) from the top of its range, where Windows
    // numbers no interface of this type.
    return ifTypePropVirtual << 48 | std::uint64_t{0xFFFFFF - (index & 0xFFFF)} << 24;
}

WintunAdapterHandle StandinAdapters::create(const WintunWchar* pool, const WintunWchar* name) {
    if (!validAdapterName(pool) || !validAdapterName(name)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    try {
        std::lock_guard<std::mutex> hold(lock);
        for (const auto& adapter : adapters)
            if (adapter->pool == pool && adapter->name == name) {
                SetLastError(ERROR_ALREADY_EXISTS);
                return nullptr;
            }
        auto adapter = std::make_shared<StandinAdapter>();
        adapter->pool = pool;
        adapter->name = name;
        adapter->luid = standinLuid(nextIndex++);
        adapters.push_back(adapter);
        return handleFor(std::move(adapter));
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

WintunAdapterHandle StandinAdapters::open(const WintunWchar* pool, const WintunWchar* name) {
    if (!validAdapterName(pool) || !validAdapterName(name)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::lock_guard<std::mutex> hold(lock);
    for (const auto& adapter : adapters)
        if (adapter->pool == pool && adapter->name == name)
            return handleFor(adapter);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
}

std::vector<std::shared_ptr<StandinAdapter>> StandinAdapters::inPool(const WintunWchar* pool) {
    std::vector<std::shared_ptr<StandinAdapter>> found;
    std::lock_guard<std::mutex> hold(lock);
    for (const auto& adapter : adapters)
        if (adapter->pool == pool)
            found.push_back(adapter);
    return found;
}

StandinAdapters& standinAdapters() {
    static StandinAdapters registry;
    return registry;
}
