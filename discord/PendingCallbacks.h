#pragma once

// Completion handlers handed to the SDK as callback data. Each is freed when
// the SDK calls it, and those still waiting when the core goes are freed with
// it, so none leaks.

#include <functional>
#include <memory>
#include <set>

namespace discord {

class PendingCallbacks {
public:
    PendingCallbacks() = default;
    PendingCallbacks(const PendingCallbacks&) = delete;
    PendingCallbacks& operator=(const PendingCallbacks&) = delete;
    ~PendingCallbacks() {
        for (auto* callback : held)
            delete callback;
    }

    template <typename... Args> void* hold(std::function<void(Args...)> handler) {
        auto* pending = new Holder<Args...>(*this, std::move(handler));
        held.insert(pending);
        return pending;
    }

    // The C callback that goes with hold's data: calls the handler once and
    // frees it, also when the handler throws.
    template <typename... Args> static void call(void* data, Args... args) {
        std::unique_ptr<Holder<Args...>> pending(static_cast<Holder<Args...>*>(data));
        pending->owner.held.erase(pending.get());
        if (pending->handler)
            pending->handler(args...);
    }

private:
    struct Base {
        virtual ~Base() = default;
    };
    template <typename... Args> struct Holder : Base {
        Holder(PendingCallbacks& owner, std::function<void(Args...)> handler)
            : owner(owner), handler(std::move(handler)) {}
        PendingCallbacks& owner;
        std::function<void(Args...)> handler;
    };

    std::set<Base*> held;
};

} // namespace discord
