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
        const Token token = ++lastToken;
        slots.push_back(Slot{token, std::move(handler)});
        return token;
    }

    void Disconnect(Token token) {
        for (auto& slot : slots)
            if (slot.token == token)
                slot.token = 0;
        compact();
    }

    void DisconnectAll() {
        for (auto& slot : slots)
            slot.token = 0;
        compact();
    }

    // A handler that throws ends this delivery; the event stays usable.
    void operator()(Args... args) {
        Delivery delivery(*this);
        const std::size_t count = slots.size(); // handlers connected now wait
        for (std::size_t i = 0; i < count; ++i)
            if (slots[i].token != 0)
                slots[i].handler(args...);
    }

private:
    // Marks a delivery under way for as long as it lasts, however it ends.
    class Delivery {
    public:
        explicit Delivery(Event& event) : event(event) { ++event.delivering; }
        ~Delivery() {
            --event.delivering;
            event.compact();
        }
        Delivery(const Delivery&) = delete;
        Delivery& operator=(const Delivery&) = delete;

    private:
        Event& event;
    };

    struct Slot {
        Token token;
        std::function<void(Args...)> handler;
    };

    // Removes disconnected handlers once none of them can be running.
    void compact() {
        if (delivering == 0)
            std::erase_if(slots, [](const Slot& slot) { return slot.token == 0; });
    }

    std::deque<Slot> slots;
    Token lastToken = 0;
    int delivering = 0;
};

} // namespace discord
