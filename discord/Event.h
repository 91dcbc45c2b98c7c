#pragma once

// An SDK event in the class layer: any number of handlers, called in the
// order they were connected. Handlers may connect or disconnect handlers
// (themselves included) while the event is being delivered.

#include <cstddef>
#include <deque>
#include <functional>

namespace discord {

template <typename... Args> class Event {
public:
    using Token = int;

    Token Connect(std::function<void(Args...)> handler) {
        const Token token = ++lastToken_;
        slots_.push_back(Slot{token, std::move(handler)});
        return token;
    }

    void Disconnect(Token token) {
        for (auto& slot : slots_)
            if (slot.token == token)
                slot.token = 0;
        compact();
    }

    void DisconnectAll() {
        for (auto& slot : slots_)
            slot.token = 0;
        compact();
    }

    void operator()(Args... args) {
        ++delivering_;
        const std::size_t count = slots_.size(); // handlers connected now wait
        for (std::size_t i = 0; i < count; ++i)
            if (slots_[i].token != 0)
                slots_[i].handler(args...);
        --delivering_;
        compact();
    }

private:
    struct Slot {
        Token token;
        std::function<void(Args...)> handler;
    };

    // Removes disconnected handlers once none of them can be running.
    void compact() {
        if (delivering_ == 0)
            std::erase_if(slots_, [](const Slot& slot) { return slot.token == 0; });
    }

    std::deque<Slot> slots_;
    Token lastToken_ = 0;
    int delivering_ = 0;
};

} // namespace discord
