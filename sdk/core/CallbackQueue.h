#pragma once

// Completions and events waiting for the program's next runCallbacks.
//
// Messages from peers, the one per-packet entry, are kept without an
// allocation of their own: their bytes go into one buffer that is reused once
// every message in it was delivered, and the entries live in a vector that is
// reused once it is empty.

#include "sdk/os/WaitSet.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace sdk {

class CallbackQueue {
public:
    // Called for each queued message, with its bytes, inside runWaiting.
    using MessageSink = void (*)(void* context, std::uint64_t peer, std::uint8_t channel,
                                 std::uint8_t* bytes, std::uint32_t length);

    void setMessageSink(MessageSink sink, void* context) {
        messageSink = sink;
        messageContext = context;
    }
    // Wakes the core's wait handle for what is queued outside runWaiting.
    void setWaitSet(os::WaitSet* set) { waitSet = set; }

    void push(std::function<void()> callback) {
        waiting.push_back(Entry{std::move(callback), 0, 0, 0, 0});
        wakeUp();
    }

    void pushMessage(std::uint64_t peer, std::uint8_t channel,
                     std::span<const std::uint8_t> bytes) {
        const std::size_t offset = messageBytes.size();
        messageBytes.insert(messageBytes.end(), bytes.begin(), bytes.end());
        waiting.push_back(Entry{{}, peer, channel, offset, bytes.size()});
        ++messagesWaiting;
        wakeUp();
    }

    bool empty() const { return head == waiting.size(); }

    // Runs what was queued before this call, in order. What those callbacks
    // queue waits for the next call. Stops at once when `alive` turns false
    // (a callback destroyed the core).
    void runWaiting(const std::shared_ptr<bool>& alive) {
        running = true;
        // Counted on the stack: a callback may destroy this queue.
        std::size_t count = waiting.size() - head;
        while (count-- > 0 && *alive) {
            Entry entry = std::move(waiting[head++]);
            if (entry.call) {
                entry.call();
                continue;
            }
            --messagesWaiting;
            if (messageSink)
                messageSink(messageContext, entry.peer, entry.channel,
                            messageBytes.data() + entry.offset,
                            static_cast<std::uint32_t>(entry.length));
        }
        if (!*alive)
            return;
        running = false;
        if (messagesWaiting == 0)
            messageBytes.clear();
        if (head == waiting.size()) {
            waiting.clear();
            head = 0;
        } else {
            waiting.erase(waiting.begin(), waiting.begin() + static_cast<std::ptrdiff_t>(head));
            head = 0;
            wakeUp();
        }
    }

    void clear() {
        waiting.clear();
        head = 0;
        messageBytes.clear();
        messagesWaiting = 0;
    }

private:
    // A callback, or (without one) a message whose bytes are in messageBytes.
    struct Entry {
        std::function<void()> call;
        std::uint64_t peer;
        std::uint8_t channel;
        std::size_t offset;
        std::size_t length;
    };

    void wakeUp() {
        if (waitSet && !running)
            waitSet->wakeUp();
    }

    std::vector<Entry> waiting;
    std::size_t head = 0; // entries before it ran
    std::vector<std::uint8_t> messageBytes;
    std::size_t messagesWaiting = 0;
    MessageSink messageSink = nullptr;
    void* messageContext = nullptr;
    os::WaitSet* waitSet = nullptr;
    bool running = false;
};

} // namespace sdk
