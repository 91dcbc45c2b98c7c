#pragma once

// One direction pair of a reliable channel: the sender cuts messages into
// numbered parts, keeps at most `window` of them unacknowledged and resends a
// part whose acknowledgement is late; the receiver keeps parts that arrive
// early, drops copies, and hands out whole messages in order.

#include "sdk/transport/RoundTrip.h"
#include "sdk/transport/Types.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <vector>

namespace sdk::transport {

constexpr std::uint32_t reliableWindow = 256;          // parts in flight
constexpr std::size_t maxReliableMessage = 256 * 1024; // bytes
constexpr std::size_t maxReliableQueued = 4 * 1024 * 1024;

struct OutgoingPart {
    std::uint32_t sequence = 0;
    bool last = false;
    std::span<const std::uint8_t> bytes;
};

class ReliableSender {
public:
    explicit ReliableSender(std::size_t partSize) : partSize(partSize) {}

    // False when the message is too large or the queue is full.
    bool push(std::span<const std::uint8_t> message);

    // Calls send for every part due now: new parts inside the window, parts
    // reported missing, and parts whose time-out passed. Returns true when a
    // time-out passed (the caller backs off).
    bool sendDue(TimePoint now, const RoundTrip& roundTrip,
                 const std::function<void(const OutgoingPart&)>& send);

    // Applies an acknowledgement; adds round-trip samples of parts sent once,
    // and marks as missing the parts that later ones overtook a round trip ago.
    void acknowledge(std::uint32_t nextExpected, std::uint64_t receivedAfter, TimePoint now,
                     RoundTrip& roundTrip);

    // Numbers every unacknowledged part afresh from 0, for a peer that started over.
    void restart();

    bool idle() const { return parts.empty(); }
    // When sendDue has a part to send next; none while every part in the
    // window waits for its acknowledgement alone.
    std::optional<TimePoint> nextDue(const RoundTrip& roundTrip) const;
    std::size_t queuedBytes() const { return queuedByteCount; }

private:
    struct Part {
        std::uint32_t sequence = 0;
        bool last = false;
        bool acknowledged = false;
        bool missing = false; // later parts were acknowledged: resend without waiting
        int transmissions = 0;
        TimePoint sentAt{};
        std::vector<std::uint8_t> bytes;
    };

    std::size_t partSize;
    std::deque<Part> parts; // oldest unacknowledged first
    std::uint32_t nextSequence = 0;
    std::size_t queuedByteCount = 0;
};

class ReliableReceiver {
public:
    // Takes one part; calls deliver for every message it completes, in order.
    void receive(std::uint32_t sequence, bool last, std::span<const std::uint8_t> bytes,
                 const std::function<void(std::span<const std::uint8_t>)>& deliver);

    std::uint32_t nextExpected() const { return expectedSequence; }
    std::uint64_t receivedAfter() const;
    void restart();

    // A smaller budget for a peer that is not trusted yet: longer messages
    // are dropped, and early parts beyond the held bytes are not kept (the
    // sender sends them again).
    void limit(std::size_t maxMessage, std::size_t maxHeld);
    // Bytes kept now: early parts and the message being put together.
    std::size_t heldBytes() const { return earlyBytes + message.size(); }

private:
    struct Held {
        bool last = false;
        std::vector<std::uint8_t> bytes;
    };

    void take(bool last, std::span<const std::uint8_t> bytes,
              const std::function<void(std::span<const std::uint8_t>)>& deliver);
    void release();

    std::uint32_t expectedSequence = 0;
    std::map<std::uint32_t, Held> early; // parts ahead of expectedSequence, by sequence
    std::size_t earlyBytes = 0;
    std::size_t messageLimit = maxReliableMessage;
    std::size_t heldLimit = static_cast<std::size_t>(-1);
    std::vector<std::uint8_t> message;
    bool discarding = false; // the current message grew past the bound
};

} // namespace sdk::transport
