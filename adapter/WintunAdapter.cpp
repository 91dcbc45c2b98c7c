#include "adapter/WintunAdapter.h"

#include "platform/AddressConfig.h"
#include "platform/LastError.h"
#include "platform/NetworkCategory.h"
#include "resources/LibraryBinding.h"

#include <cerrno>
#include <stdexcept>
#include <string>
#include <system_error>

namespace {

#ifdef _WIN32
#define ADAPTER_TEXT(text) L##text
#else
#define ADAPTER_TEXT(text) u##text
#endif

const WintunWchar* const poolName = ADAPTER_TEXT("Orvanti VPN");
const WintunWchar* const adapterName = ADAPTER_TEXT("Orvanti VPN");
constexpr std::u16string_view networkName = u"Orvanti VPN";

// The same adapter GUID on every run.
constexpr WintunGuid requestedGuid = {
    0x5A2C7E41, 0x93B0, 0x4D6F, {0x8E, 0x21, 0x6B, 0x4F, 0xD0, 0x37, 0x9A, 0xC5}};

constexpr WintunDword ringCapacity = 0x400000;
constexpr WintunBool forceCloseSessions = 1;

// The loader's last-error codes are Windows error values on both systems.
std::string describeLoadFailure(std::uint32_t code) {
    std::string reason;
    switch (code) {
    case errorOutOfMemory:
        reason = "not enough memory";
        break;
    case errorModNotFound:
        reason = "a library it needs was not found";
        break;
    case errorProcNotFound:
        reason = "an entry point is missing";
        break;
    case errorBadExeFormat:
        reason = "the file is not a valid library";
        break;
    case errorInvalidAddress:
        reason = "its memory could not be reserved";
        break;
    case errorDllInitFailed:
        reason = "its initialisation failed";
        break;
    default:
        reason = "error";
    }
    return "Cannot load the network adapter library (wintun.dll): " + reason + " (error " +
           std::to_string(code) + ")";
}

// Our Linux library tells why its adapter helper could not create the
// adapter; each reason has its own remedy. Any other failure keeps the
// general text.
std::string describeCreateFailure(std::uint32_t code) {
    switch (code) {
    case wintunHelperMissing:
        return "Cannot Create Adapter: the adapter helper (vaskor-adapter-helper) is not "
               "installed. Reinstall the vaskor-vpn package.";
    case wintunHelperNotAllowed:
        return "Cannot Create Adapter: only members of the group netdev may create the "
               "network adapter. Ask an administrator to add you (sudo adduser $USER netdev), "
               "then log out and in again.";
    case wintunHelperUnprivileged:
        return "Cannot Create Adapter: the adapter helper was not given the capability "
               "CAP_NET_ADMIN (its file system may not keep file capabilities). Reinstall the "
               "vaskor-vpn package, or start Vaskor VPN as root.";
    default:
        return "Cannot Create Adapter";
    }
}

} // namespace

WintunAdapter::WintunAdapter() {
    library = bindWintunApi();
    if (library == nullptr)
        throw std::runtime_error(describeLoadFailure(lastError()));
    settings = bindAdapterSettings(library);

    WintunBool rebootRequired = 0;
    if (WintunAdapterHandle stale = WintunApi.openAdapter(poolName, adapterName)) {
        WintunApi.deleteAdapter(stale, forceCloseSessions, &rebootRequired);
        WintunApi.freeAdapter(stale);
    }
    clearWintunLastError();
    adapter = WintunApi.createAdapter(poolName, adapterName, &requestedGuid, &rebootRequired);
    if (adapter == nullptr)
        throw std::runtime_error(describeCreateFailure(wintunLastError()));
    if (rebootRequired) {
        // Left in place: the next construction finds it by name and removes it.
        WintunApi.freeAdapter(adapter);
        throw std::runtime_error("Reboot Required to Create a Network Adapter.");
    }
    session = WintunApi.startSession(adapter, ringCapacity);
    if (session == nullptr) {
        WintunApi.deleteAdapter(adapter, forceCloseSessions, &rebootRequired);
        WintunApi.freeAdapter(adapter);
        throw std::runtime_error("Cannot Create Session");
    }
    WintunApi.getAdapterLuid(adapter, &adapterLuid);
    try {
        configureMtu();
    } catch (...) {
        WintunApi.endSession(session);
        WintunApi.deleteAdapter(adapter, forceCloseSessions, &rebootRequired);
        WintunApi.freeAdapter(adapter);
        throw;
    }
}

// A larger MTU would let packets exceed one datagram of the SDK's transport:
// an adapter without it would lose large packets without a word.
void WintunAdapter::configureMtu() {
    int code = 0;
    if (settings.complete()) {
        clearWintunLastError();
        if (!settings.setMtu(adapter, adapterMtu))
            code = static_cast<int>(wintunLastError());
    } else {
        code = setInterfaceMtu(adapterLuid, adapterMtu);
    }
    if (code != 0)
        throw std::runtime_error("Cannot set the adapter's MTU: " +
                                 std::system_category().message(code));
}

WintunAdapter::~WintunAdapter() {
    WintunBool rebootRequired = 0;
    if (session != nullptr) {
        WintunApi.endSession(session);
        session = nullptr;
    }
    if (adapter != nullptr) {
        // Deleting the adapter takes its address with it.
        WintunApi.deleteAdapter(adapter, forceCloseSessions, &rebootRequired);
        WintunApi.freeAdapter(adapter);
        adapter = nullptr;
    }
}

WintunHandle WintunAdapter::readWaitHandle() const {
    return session == nullptr ? nullptr : WintunApi.getReadWaitEvent(session);
}

std::vector<std::uint8_t> WintunAdapter::receive() {
    if (session == nullptr)
        return {};
    WintunDword size = 0;
    clearWintunLastError();
    std::uint8_t* packet = WintunApi.receivePacket(session, &size);
    if (packet == nullptr) {
        // Only a gone adapter is told apart: its wait handle stays ready for
        // good, so a caller that took it for an empty ring would spin.
        if (wintunLastError() == static_cast<std::uint32_t>(wintunAdapterGone))
            throw AdapterRemoved();
        return {};
    }
    std::vector<std::uint8_t> copy;
    try {
        copy.assign(packet, packet + size);
    } catch (...) {
        WintunApi.releaseReceivePacket(session, packet); // the ring space is never lost
        throw;
    }
    WintunApi.releaseReceivePacket(session, packet);
    return copy;
}

void WintunAdapter::send(const std::vector<std::uint8_t>& packet) {
    if (session == nullptr || packet.size() > wintunMaxIpPacketSize)
        return;
    std::uint8_t* room =
        WintunApi.allocateSendPacket(session, static_cast<WintunDword>(packet.size()));
    if (room == nullptr)
        return;
    std::copy(packet.begin(), packet.end(), room);
    WintunApi.sendPacket(session, room);
}

void WintunAdapter::setAddress(const Ipv4Cidr& address) {
    if (address == currentAddress)
        return;
    removeAddress();
    addAddress(address);
    currentAddress = address;
    markNetworkPrivate();
}

// The address goes, but stays the current one: setting it again changes nothing.
void WintunAdapter::removeAddress() {
    if (addressContext != 0) {
        if (settings.complete())
            settings.removeAddress(adapter, addressContext);
        else
            deleteInterfaceAddress(addressContext, addressInstance);
    }
    addressContext = 0;
}

// An adapter whose interface is gone cannot take the address: that is a
// failure, never a silent success.
void WintunAdapter::addAddress(const Ipv4Cidr& address) {
    if (settings.complete()) {
        clearWintunLastError();
        if (!settings.addAddress(adapter, address.address, address.netmask())) {
            int code = static_cast<int>(wintunLastError());
            throw std::system_error(code != 0 ? code : EINVAL, std::system_category());
        }
        addressContext = address.address; // our library's adapter names its address by itself
        return;
    }
    std::uint32_t interfaceIndex = 0;
    if (int code = interfaceIndexOfLuid(adapterLuid, interfaceIndex); code != 0)
        throw std::system_error(code, std::system_category());
    if (int code = addInterfaceAddress(address.address, address.netmask(), interfaceIndex,
                                       addressContext, addressInstance);
        code != 0)
        throw std::system_error(code, std::system_category());
}

void WintunAdapter::markNetworkPrivate() {
    if (settings.complete())
        settings.markPrivate(adapter);
    else
        markNamedNetworksPrivate(networkName);
}
