#include "tun/win32/StandinSession.h"

#include <new>

StandinSession::StandinSession(std::shared_ptr<StandinAdapter> adapter, std::uint32_t capacity,
                               HANDLE event)
    : adapter(std::move(adapter)), sending(capacity), received(capacity), event(event) {}

StandinSession::~StandinSession() {
    CloseHandle(event);
}

std::uint8_t* StandinSession::receive(std::uint32_t& size) {
    std::lock_guard<std::mutex> hold(lock);
    if (closed) {
        SetLastError(ERROR_HANDLE_EOF);
        return nullptr;
    }
    if (waiting.empty()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return nullptr;
    }
    std::uint8_t* packet = waiting.front();
    waiting.pop_front();
    if (waiting.empty())
        ResetEvent(event);
    size = PacketRing::sizeOf(packet);
    return packet;
}

void StandinSession::releaseReceived(const std::uint8_t* packet) {
    std::lock_guard<std::mutex> hold(lock);
    received.release(packet);
    received.reclaim();
}

std::uint8_t* StandinSession::allocateSend(std::uint32_t size) {
    std::lock_guard<std::mutex> hold(lock);
    if (closed) {
        SetLastError(ERROR_HANDLE_EOF);
        return nullptr;
    }
    if (size == 0 || size > wintunMaxIpPacketSize) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::uint8_t* packet = sending.allocate(size);
    if (packet == nullptr)
        SetLastError(ERROR_BUFFER_OVERFLOW);
    return packet;
}

void StandinSession::send(const std::uint8_t* packet) {
    std::lock_guard<std::mutex> hold(lock);
    sending.release(packet);
    sending.reclaim([this](const std::uint8_t* sent, std::uint32_t size) {
        if (closed)
            return;
        std::uint8_t* copy = received.allocate(size);
        if (copy == nullptr) {
            ++dropped;
            return;
        }
        std::copy(sent, sent + size, copy);
        waiting.push_back(copy);
        SetEvent(event);
    });
}

void StandinSession::close() {
    std::lock_guard<std::mutex> hold(lock);
    closed = true;
    waiting.clear();
    // A caller waiting for packets wakes and learns that none will come.
    SetEvent(event);
}

WintunSessionHandle startStandinSession(WintunAdapterHandle handle, std::uint32_t capacity) {
    if (handle == nullptr || capacity < wintunMinRingCapacity || capacity > wintunMaxRingCapacity ||
        (capacity & (capacity - 1)) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    StandinAdapters& adapters = standinAdapters();
    std::lock_guard<std::mutex> hold(adapters.lock);
    StandinAdapter& adapter = *handle->adapter;
    if (adapter.deleted) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    if (adapter.session != nullptr) {
        SetLastError(ERROR_BUSY);
        return nullptr;
    }
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr)
        return nullptr;
    WintunSessionRecord* session = nullptr;
    try {
        session = new WintunSessionRecord(handle->adapter, capacity, event);
    } catch (const std::bad_alloc&) {
        CloseHandle(event);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    adapter.session = session;
    return session;
}

void endStandinSession(WintunSessionHandle session) {
    if (session == nullptr)
        return;
    {
        StandinAdapters& adapters = standinAdapters();
        std::lock_guard<std::mutex> hold(adapters.lock);
        if (session->adapter->session == session)
            session->adapter->session = nullptr;
    }
    delete session;
}

bool StandinAdapters::remove(WintunAdapterHandle handle, bool forceCloseSessions) {
    if (handle == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    std::lock_guard<std::mutex> hold(lock);
    StandinAdapter& adapter = *handle->adapter;
    if (adapter.session != nullptr) {
        if (!forceCloseSessions) {
            SetLastError(ERROR_BUSY);
            return false;
        }
        adapter.session->close();
        adapter.session = nullptr;
    }
    adapter.deleted = true;
    std::erase(adapters, handle->adapter);
    return true;
}
