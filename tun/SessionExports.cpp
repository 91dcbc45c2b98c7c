// The session entry points: the packet path.

#include "tun/Logger.h"
#include "tun/Session.h"
#include "interfaces/WintunExports.h"

#include <cerrno>
#include <cstdint>
#include <new>

extern "C" {

WintunSessionHandle WintunStartSession(WintunAdapterHandle adapter, WintunDword capacity) {
    if (adapter == nullptr) {
        logFailure("Invalid adapter", EINVAL);
        return nullptr;
    }
    try {
        std::unique_ptr<WintunSessionRecord> session;
        if (int rc = WintunSessionRecord::start(*adapter, capacity, session); rc != 0) {
            logFailure("Failed to start session", rc);
            return nullptr;
        }
        return session.release();
    } catch (const std::bad_alloc&) {
        logFailure("Failed to start session", ENOMEM);
        return nullptr;
    }
}

void WintunEndSession(WintunSessionHandle session) {
    delete session;
}

WintunHandle WintunGetReadWaitEvent(WintunSessionHandle session) {
    return reinterpret_cast<WintunHandle>(static_cast<std::intptr_t>(session->descriptor()));
}

std::uint8_t* WintunReceivePacket(WintunSessionHandle session, WintunDword* packetSize) {
    std::uint32_t size = 0;
    std::uint8_t* packet = session->receive(size);
    if (packet != nullptr)
        *packetSize = size;
    return packet;
}

void WintunReleaseReceivePacket(WintunSessionHandle session, const std::uint8_t* packet) {
    session->releaseReceived(packet);
}

std::uint8_t* WintunAllocateSendPacket(WintunSessionHandle session, WintunDword packetSize) {
    return session->allocateSend(packetSize);
}

void WintunSendPacket(WintunSessionHandle session, const std::uint8_t* packet) {
    session->send(packet);
}

} // extern "C"
