#include "sdk/transport/ReliableChannel.h"

#include <algorithm>

namespace sdk::transport {

namespace {
// Distance from a to b in sequence space, valid across wrap-around.
std::int32_t distance(std::uint32_t from, std::uint32_t to) {
    return static_cast<std::int32_t>(to - from);
}
} // namespace

bool ReliableSender::push(std::span<const std::uint8_t> message) {
    if (message.size() > maxReliableMessage || queuedByteCount + message.size() > maxReliableQueued)
        return false;
    std::size_t offset = 0;
    do {
        const std::size_t length = std::min(partSize, message.size() - offset);
        Part part;
        part.sequence = nextSequence++;
        part.last = offset + length == message.size();
        part.bytes.assign(message.begin() + offset, message.begin() + offset + length);
        parts.push_back(std::move(part));
        offset += length;
    } while (offset < message.size());
    queuedByteCount += message.size();
    return true;
}

bool ReliableSender::sendDue(TimePoint now, const RoundTrip& roundTrip,
                             const std::function<void(const OutgoingPart&)>& send) {
    bool resent = false;
    if (parts.empty())
        return false;
    const std::uint32_t windowStart = parts.front().sequence;
    for (auto& part : parts) {
        if (distance(windowStart, part.sequence) >= static_cast<std::int32_t>(reliableWindow))
            break;
        if (part.acknowledged)
            continue;
        const bool timedOut = part.transmissions > 0 && now - part.sentAt >= roundTrip.timeout();
        if (part.transmissions > 0 && !timedOut && !part.missing)
            continue;
        resent = resent || timedOut;
        part.missing = false;
        ++part.transmissions;
        part.sentAt = now;
        send(OutgoingPart{part.sequence, part.last, part.bytes});
    }
    return resent;
}

std::optional<TimePoint> ReliableSender::nextDue(const RoundTrip& roundTrip) const {
    if (parts.empty())
        return std::nullopt;
    std::optional<TimePoint> earliest;
    const std::uint32_t windowStart = parts.front().sequence;
    for (const auto& part : parts) {
        if (distance(windowStart, part.sequence) >= static_cast<std::int32_t>(reliableWindow))
            break;
        if (part.acknowledged)
            continue;
        if (part.transmissions == 0 || part.missing)
            return TimePoint::min();
        const TimePoint due = part.sentAt + roundTrip.timeout();
        if (!earliest || due < *earliest)
            earliest = due;
    }
    return earliest;
}

void ReliableSender::acknowledge(std::uint32_t nextExpected, std::uint64_t receivedAfter,
                                 TimePoint now, RoundTrip& roundTrip) {
    const auto sample = [&](const Part& part) {
        if (part.transmissions == 1 && !part.acknowledged)
            roundTrip.addSample(
                std::chrono::duration_cast<std::chrono::microseconds>(now - part.sentAt));
    };
    // An acknowledgement beyond what was ever sent is not believed.
    if (distance(nextExpected, nextSequence) < 0)
        return;
    while (!parts.empty() && distance(parts.front().sequence, nextExpected) > 0) {
        sample(parts.front());
        queuedByteCount -= std::min(queuedByteCount, parts.front().bytes.size());
        parts.pop_front();
    }
    std::int32_t highest = -1; // offset of the newest part the receiver holds
    for (auto& part : parts) {
        const std::int32_t offset = distance(nextExpected, part.sequence) - 1;
        if (offset >= 64)
            break;
        if (offset >= 0 && (receivedAfter >> offset) & 1) {
            sample(part);
            part.acknowledged = true;
            highest = offset;
        }
    }
    // Parts overtaken by a later one that was sent at least a round trip ago
    // are most likely lost: resend them without waiting for the time-out.
    const auto settled = std::max(roundTrip.smoothed(), std::chrono::microseconds(200));
    for (auto& part : parts) {
        const std::int32_t offset = distance(nextExpected, part.sequence) - 1;
        if (offset >= highest)
            break;
        if (!part.acknowledged && part.transmissions > 0 && now - part.sentAt >= settled)
            part.missing = true;
    }
}

void ReliableSender::restart() {
    nextSequence = 0;
    for (auto& part : parts) {
        part.sequence = nextSequence++;
        part.acknowledged = false;
        part.transmissions = 0;
    }
}

void ReliableReceiver::receive(std::uint32_t sequence, bool last,
                               std::span<const std::uint8_t> bytes,
                               const std::function<void(std::span<const std::uint8_t>)>& deliver) {
    const std::int32_t ahead = distance(expectedSequence, sequence);
    if (ahead < 0 || ahead >= static_cast<std::int32_t>(reliableWindow))
        return; // a copy of something delivered, or outside what the sender may send
    if (ahead > 0) {
        if (heldBytes() + bytes.size() > heldLimit)
            return;
        if (early.try_emplace(sequence, Held{last, {bytes.begin(), bytes.end()}}).second)
            earlyBytes += bytes.size();
        return;
    }
    take(last, bytes, deliver);
    while (true) {
        const auto next = early.find(expectedSequence);
        if (next == early.end())
            break;
        Held held = std::move(next->second);
        early.erase(next);
        earlyBytes -= held.bytes.size();
        take(held.last, held.bytes, deliver);
    }
}

void ReliableReceiver::take(bool last, std::span<const std::uint8_t> bytes,
                            const std::function<void(std::span<const std::uint8_t>)>& deliver) {
    ++expectedSequence;
    if (!discarding &&
        (message.size() + bytes.size() > messageLimit || heldBytes() + bytes.size() > heldLimit)) {
        discarding = true;
        release();
    }
    if (!discarding)
        message.insert(message.end(), bytes.begin(), bytes.end());
    if (last) {
        if (!discarding)
            deliver(message);
        release();
        discarding = false;
    }
}

// A long message's buffer is given back rather than kept for the next one.
void ReliableReceiver::release() {
    constexpr std::size_t kept = 64 * 1024;
    if (message.capacity() > kept)
        std::vector<std::uint8_t>().swap(message);
    else
        message.clear();
}

void ReliableReceiver::limit(std::size_t maxMessage, std::size_t maxHeld) {
    messageLimit = std::min(maxMessage, maxReliableMessage);
    heldLimit = maxHeld;
}

std::uint64_t ReliableReceiver::receivedAfter() const {
    std::uint64_t bits = 0;
    for (const auto& [sequence, held] : early) {
        const std::int32_t offset = distance(expectedSequence, sequence) - 1;
        if (offset >= 0 && offset < 64)
            bits |= std::uint64_t{1} << offset;
    }
    return bits;
}

void ReliableReceiver::restart() {
    expectedSequence = 0;
    early.clear();
    earlyBytes = 0;
    release();
    discarding = false;
}

} // namespace sdk::transport
