#pragma once

// Every entry point of the SDK's C interface runs inside a guard: no C++
// exception crosses into the program (on Windows the SDK is a library with a
// runtime of its own, mapped by the program's loader). A failure is logged
// and the program sees a result code: InternalError, or for a call that
// completes later, its completion with InternalError at the next
// runCallbacks.
//
// With VASKOR_SDK_FAULT naming an entry point, that entry fails inside the
// SDK as if something had thrown there, so that a program's handling of
// such a failure can be tried.

#include "interfaces/DiscordSdk.h"
#include "sdk/core/SdkCore.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <stdexcept>
#include <tuple>
#include <type_traits>

namespace sdk {

template <std::size_t N> struct EntryName {
    constexpr EntryName(const char (&name)[N]) { std::copy_n(name, N, text); }
    char text[N];
};

void reportEntryFailure(const char* entry, const char* what);

namespace entry {

template <typename T>
inline constexpr bool isManager =
    std::is_same_v<T, DiscordUserManager> || std::is_same_v<T, DiscordNetworkManager> ||
    std::is_same_v<T, DiscordLobbyManager> || std::is_same_v<T, DiscordActivityManager> ||
    std::is_same_v<T, DiscordOverlayManager> || std::is_same_v<T, DiscordRelationshipManager> ||
    std::is_same_v<T, DiscordStoreManager> || std::is_same_v<T, DiscordVoiceManager> ||
    std::is_same_v<T, DiscordAchievementManager>;

// The core behind the first argument, when it has one.
template <typename Self> SdkCore* coreBehind(Self self) {
    if constexpr (std::is_pointer_v<Self>) {
        using Table = std::remove_pointer_t<Self>;
        if constexpr (isManager<Table>)
            return self ? &coreOf(self) : nullptr;
        else if constexpr (std::is_same_v<Table, DiscordCoreInterface>)
            return static_cast<SdkCore*>(self);
    }
    return nullptr;
}

template <typename... Args> void injectFault(const char* name, Args... args) {
    if constexpr (sizeof...(Args) > 0) {
        const SdkCore* core = coreBehind(std::get<0>(std::tuple<Args...>(args...)));
        if (core && core->faultAt(name))
            throw std::runtime_error("failure injected");
    }
}

inline void failWith(DiscordResultCallback callback, void* data) {
    callback(data, DiscordResult_InternalError);
}
inline void failWith(DiscordLobbyCallback callback, void* data) {
    DiscordLobby none{};
    callback(data, DiscordResult_InternalError, &none);
}
inline void failWith(DiscordUserCallback callback, void* data) {
    DiscordUser none{};
    callback(data, DiscordResult_InternalError, &none);
}

template <typename Callback>
inline constexpr bool isCompletion =
    std::is_same_v<Callback, DiscordResultCallback> ||
    std::is_same_v<Callback, DiscordLobbyCallback> || std::is_same_v<Callback, DiscordUserCallback>;

// A call that ends with (callback data, completion): the completion hears of
// the failure, in runCallbacks as always.
template <typename... Args> void failCompletion(Args... args) {
    constexpr std::size_t count = sizeof...(Args);
    if constexpr (count >= 3) {
        using All = std::tuple<Args...>;
        using Callback = std::tuple_element_t<count - 1, All>;
        using Data = std::tuple_element_t<count - 2, All>;
        if constexpr (isCompletion<Callback> && std::is_same_v<Data, void*>) {
            const All all(args...);
            SdkCore* core = coreBehind(std::get<0>(all));
            const Callback callback = std::get<count - 1>(all);
            void* data = std::get<count - 2>(all);
            if (!core || !callback)
                return;
            try {
                core->callbacks().push([callback, data] { failWith(callback, data); });
            } catch (...) {
                reportEntryFailure("a completion", "cannot be queued");
            }
        }
    }
}

template <typename R> R failedResult() {
    if constexpr (std::is_same_v<R, DiscordResultCode>)
        return DiscordResult_InternalError;
    else
        return R{};
}

// The function a table held before it was guarded, per slot: every core's
// tables hold the same functions.
template <auto Slot> struct Original;
template <typename Table, typename Function, Function Table::*Slot> struct Original<Slot> {
    static inline std::atomic<Function> function{nullptr};
};

template <typename Function> struct Guard;
template <typename R, typename... Args> struct Guard<R (*)(Args...)> {
    template <auto Slot, EntryName name> static R call(Args... args) {
        try {
            injectFault(name.text, args...);
            return Original<Slot>::function.load(std::memory_order_relaxed)(args...);
        } catch (const std::exception& error) {
            reportEntryFailure(name.text, error.what());
        } catch (...) {
            reportEntryFailure(name.text, "an unknown exception");
        }
        if constexpr (std::is_void_v<R>)
            failCompletion(args...);
        else
            return failedResult<R>();
    }
};

} // namespace entry

// Puts the guard in front of one entry point of a table.
template <auto Slot, EntryName name, typename Table> void guardEntry(Table& table) {
    using Function = std::remove_cvref_t<decltype(table.*Slot)>;
    constexpr Function guarded = &entry::Guard<Function>::template call<Slot, name>;
    if (!(table.*Slot) || table.*Slot == guarded)
        return;
    entry::Original<Slot>::function.store(table.*Slot, std::memory_order_relaxed);
    table.*Slot = guarded;
}

// Every entry point of the core's tables, and of a transaction's.
void guardEntries(SdkCore& core);
void guardEntries(DiscordLobbyTransaction& transaction);
void guardEntries(DiscordLobbyMemberTransaction& transaction);

} // namespace sdk
