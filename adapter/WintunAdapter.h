#pragma once

#include "adapter/AdapterRemoved.h"
#include "adapter/Ipv4Cidr.h"
#include "interfaces/WintunTypes.h"
#include "resources/LibraryBinding.h"

#include <cstdint>
#include <vector>

struct InMemoryLibrary;

// The adapter's MTU. The SDK carries each packet as one unreliable message in
// one encrypted UDP datagram: a 1500-byte link leaves 1472 bytes of UDP payload
// over IPv4 (1452 over IPv6), less 24 bytes of encryption (counter and tag) and
// the transport's few header bytes. A 1412-byte packet makes a 1443-byte
// datagram, 1452 with the header of the host's relay: the most a 1500-byte
// link carries over IPv6, so no packet is ever fragmented underneath, relayed
// or not, over either family.
constexpr std::uint32_t adapterMtu = 1412;

// The "Orvanti VPN" Wintun adapter with its packet session, and the address
// this object gave it. Held only through shared ownership (VirtualAdapter).
class WintunAdapter {
public:
    // Binds the Wintun library, removes a stale adapter of the same name,
    // creates the adapter and starts its session. Throws std::runtime_error.
    WintunAdapter();
    ~WintunAdapter();
    WintunAdapter(const WintunAdapter&) = delete;
    WintunAdapter& operator=(const WintunAdapter&) = delete;

    // One packet, or an empty vector at once when none is waiting. Throws
    // AdapterRemoved once the adapter is gone.
    std::vector<std::uint8_t> receive();

    // The session's read-wait handle: ready while a packet waits. Owned by
    // the session; the caller only waits on it.
    WintunHandle readWaitHandle() const;

    // Writes one packet into the adapter; dropped silently when the ring has no room.
    void send(const std::vector<std::uint8_t>& packet);

    // Replaces the address this object set before. Throws std::system_error
    // with the system's code when the system refuses the address or the
    // adapter's interface is gone.
    void setAddress(const Ipv4Cidr& address);

    // Puts the adapter's network into the private category.
    void markNetworkPrivate();

private:
    void configureMtu();
    void removeAddress();
    void addAddress(const Ipv4Cidr& address);

    InMemoryLibrary* library = nullptr; // kept, never freed
    // Set when the library configures its own adapters (ours on Linux).
    AdapterSettingsEntries settings;
    WintunAdapterHandle adapter = nullptr;
    WintunSessionHandle session = nullptr;
    std::uint32_t addressContext = 0;
    std::uint32_t addressInstance = 0; // with the context, names the address to delete
    Ipv4Cidr currentAddress{};
    WintunLuid adapterLuid = 0;
};
