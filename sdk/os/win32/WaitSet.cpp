#include "sdk/os/WaitSet.h"

#include "sdk/os/win32/Text.h"

#include <winsock2.h> // before the other system headers

#include <windows.h>

#include <stdexcept>
#include <string>

namespace sdk::os {

namespace {

HANDLE eventOf(const OwnedHandle& handle) {
    return reinterpret_cast<HANDLE>(handle.get());
}

void CALLBACK setEventOnWait(PTP_CALLBACK_INSTANCE, void* event, PTP_WAIT, TP_WAIT_RESULT) {
    SetEvent(static_cast<HANDLE>(event));
}

void CALLBACK setEventOnTimer(PTP_CALLBACK_INSTANCE, void* event, PTP_TIMER) {
    SetEvent(static_cast<HANDLE>(event));
}

std::runtime_error failure(const char* what) {
    return std::runtime_error(std::string("cannot create the core's ") + what + ": " +
                              win32::errorText(GetLastError()));
}

bool isSocket(Handle handle) {
    int type = 0;
    int size = sizeof type;
    return getsockopt(static_cast<SOCKET>(handle), SOL_SOCKET, SO_TYPE,
                      reinterpret_cast<char*>(&type), &size) == 0;
}

Handle newEvent() {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!event)
        throw failure("wait handle");
    return reinterpret_cast<Handle>(event);
}

// A relative due time for the thread pool, in 100 ns steps (negative).
FILETIME dueIn(std::chrono::steady_clock::duration left) {
    const auto steps = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count() / 100;
    ULARGE_INTEGER value{};
    value.QuadPart = static_cast<ULONGLONG>(-std::max<long long>(steps, 1));
    return FILETIME{value.LowPart, value.HighPart};
}

} // namespace

// A watched event that is not a socket (the control channel's set) sets ours
// through a wait of the thread pool, armed again after each pass.
struct WaitSet::Forward {
    PTP_WAIT wait = nullptr;
    HANDLE source = nullptr;

    ~Forward() {
        SetThreadpoolWait(wait, nullptr, nullptr);
        WaitForThreadpoolWaitCallbacks(wait, TRUE);
        CloseThreadpoolWait(wait);
    }
    void arm() { SetThreadpoolWait(wait, source, nullptr); }
};

WaitSet::WaitSet() : waitable(newEvent()) {
    timer = CreateThreadpoolTimer(setEventOnTimer, eventOf(waitable), nullptr);
    if (!timer)
        throw failure("timer");
}

WaitSet::~WaitSet() {
    auto* poolTimer = static_cast<PTP_TIMER>(timer);
    SetThreadpoolTimer(poolTimer, nullptr, 0, 0);
    WaitForThreadpoolTimerCallbacks(poolTimer, TRUE);
    CloseThreadpoolTimer(poolTimer);
    forwards.clear();
    // The sockets outlive the set in the core: they stop setting our event.
    for (const Handle socket : sockets)
        WSAEventSelect(static_cast<SOCKET>(socket), nullptr, 0);
}

void WaitSet::watch(Handle handle) {
    if (isSocket(handle)) {
        // Also makes the socket non-blocking, as the core's receive wants.
        if (WSAEventSelect(static_cast<SOCKET>(handle), eventOf(waitable), FD_READ | FD_CLOSE) != 0)
            throw std::runtime_error("cannot watch a socket of the core: " +
                                     win32::errorText(WSAGetLastError()));
        sockets.push_back(handle);
        return;
    }
    auto forward = std::make_unique<Forward>();
    forward->source = reinterpret_cast<HANDLE>(handle);
    forward->wait = CreateThreadpoolWait(setEventOnWait, eventOf(waitable), nullptr);
    if (!forward->wait)
        throw failure("wait for the control channel");
    forward->arm();
    forwards.push_back(std::move(forward));
}

void WaitSet::wakeAt(std::optional<std::chrono::steady_clock::time_point> due) {
    if (!due) {
        if (armed)
            arm(std::nullopt);
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (*due <= now) {
        wakeUp();
        return;
    }
    if (!armed || *due < *armed || *armed <= now)
        arm(due);
}

void WaitSet::arm(std::optional<std::chrono::steady_clock::time_point> due) {
    auto* poolTimer = static_cast<PTP_TIMER>(timer);
    if (due) {
        FILETIME when = dueIn(*due - std::chrono::steady_clock::now());
        SetThreadpoolTimer(poolTimer, &when, 0, 0);
    } else {
        SetThreadpoolTimer(poolTimer, nullptr, 0, 0);
    }
    armed = due;
}

void WaitSet::wakeUp() {
    if (SetEvent(eventOf(waitable)))
        woken = true;
}

void WaitSet::clearWakeUp() {
    woken = false;
    refresh();
}

// Cleared first, then each source asked: whatever comes after the clearing
// sets the event again, so nothing is missed.
void WaitSet::refresh() {
    ResetEvent(eventOf(waitable));
    std::vector<WSAPOLLFD> polled;
    for (const Handle socket : sockets)
        polled.push_back(WSAPOLLFD{static_cast<SOCKET>(socket), POLLRDNORM, 0});
    if (!polled.empty() && WSAPoll(polled.data(), static_cast<ULONG>(polled.size()), 0) > 0)
        SetEvent(eventOf(waitable));
    for (const auto& forward : forwards)
        forward->arm();
}

} // namespace sdk::os
