#pragma once

// A stand-in session: a loopback in memory. Every packet sent is copied into
// the receive ring and comes back, in send order, from the receive side.
// Each ring holds at most the session's capacity: a full send ring refuses
// allocations (ERROR_BUFFER_OVERFLOW), and a packet sent while the receive
// ring has no room for it is dropped, as a full adapter queue drops it.

#include "tun/PacketRing.h"
#include "tun/win32/StandinAdapters.h"

#include <windows.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

struct StandinSession {
    StandinSession(std::shared_ptr<StandinAdapter> adapter, std::uint32_t capacity, HANDLE event);
    ~StandinSession();
    StandinSession(const StandinSession&) = delete;
    StandinSession& operator=(const StandinSession&) = delete;

    // Null with ERROR_NO_MORE_ITEMS when nothing is waiting, ERROR_HANDLE_EOF
    // once the adapter was deleted under the session.
    std::uint8_t* receive(std::uint32_t& size);
    void releaseReceived(const std::uint8_t* packet);
    // Null with ERROR_INVALID_PARAMETER (size 0 or above 0xFFFF),
    // ERROR_BUFFER_OVERFLOW (no room) or ERROR_HANDLE_EOF (adapter deleted).
    std::uint8_t* allocateSend(std::uint32_t size);
    // Packets come back in the order of their allocation.
    void send(const std::uint8_t* packet);
    // Set while a packet is waiting to be received, and for good once closed.
    HANDLE readWaitEvent() const { return event; }
    // The adapter was deleted with force: every call fails from now on.
    void close();

    std::shared_ptr<StandinAdapter> adapter;
    std::uint32_t dropped = 0; // packets the full receive ring could not take

private:
    std::mutex lock;
    PacketRing sending;
    PacketRing received;
    std::deque<std::uint8_t*> waiting; // in the receive ring, not yet handed out
    HANDLE event;
    bool closed = false;
};

// What the caller holds: the session itself.
struct WintunSessionRecord : StandinSession {
    using StandinSession::StandinSession;
};

// Validates the capacity (a power of two from 128 KiB to 64 MiB) and the
// adapter, and attaches a new session; null with the Windows error code set.
WintunSessionHandle startStandinSession(WintunAdapterHandle adapter, std::uint32_t capacity);

// Detaches the session from its adapter and frees it; null is allowed.
void endStandinSession(WintunSessionHandle session);
