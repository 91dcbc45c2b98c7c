#pragma once

// The fake adapters of a unit test that runs whole runs (Vpn) in one process.
//
// The test program embeds the fake adapter library as "wintun.dll" and links
// the fake address configuration (both in this folder, see CMakeLists.txt).
// While a FakeAdapterHub object lives, every adapter that a run creates
// through the library lives in it, packets in memory:
//
//   FakeAdapterHub hub;                        // first, so it outlives the runs
//   Vpn host(Ipv4Cidr::parse("192.168.42.1/24"));
//   FakeAdapter* adapter = nullptr;            // the run's, once it has its address
//   testsupport::pumpUntil([] {}, [&] {
//       return (adapter = hub.adapterWithAddress(Ipv4Cidr::parse("192.168.42.1/24")));
//   });
//   adapter->inject(packet);                   // the system routes a packet into it
//   ... adapter->takeWritten()                 // the packets the run wrote into it
//
// Each thread is a machine of its own: a run creates, finds (by pool and name)
// and deletes its adapter on its worker thread, and sees only the adapters
// created on that thread, so runs of one process never remove each other's
// adapter of the same name. Addresses conflict only within one machine.
//
// Adapters stay in the hub, in creation order, until the hub ends (also once
// a run has deleted them), so a test can look at them after the run is gone.
// Everything here may be called from any thread.

#include "adapter/Ipv4Cidr.h"
#include "tests/support/fake-adapter/FakeAdapterBackend.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

using Packet = std::vector<std::uint8_t>;

class FakeSession;

// One adapter, as a test sees it.
class FakeAdapter {
public:
    // Distinct for every adapter of the hub, and never a real interface's
    // LUID (those carry the virtual interface type, 53, in the top 16 bits).
    std::uint64_t luid() const { return fixedLuid; }
    std::u16string pool() const;
    std::u16string name() const;
    // Deleted by its run (WintunDeleteAdapter); it keeps its packets here.
    bool deleted() const;
    bool hasSession() const;

    // The address the run gave it through the address configuration, if any;
    // deleting the adapter takes it away.
    std::optional<Ipv4Cidr> address() const;
    std::optional<std::uint32_t> mtu() const;
    // How many times an address was added to it.
    int addressChanges() const;

    // A packet the system routes into the adapter, for the run to receive.
    // False when it is lost as the system's would be: no session, or no room
    // left in the session's receive ring.
    bool inject(const Packet& packet);
    // The packets the run wrote into the adapter, oldest first, each once.
    // Until taken they hold room in the session's send ring, as packets the
    // system has not read yet.
    std::vector<Packet> takeWritten();

private:
    friend class FakeAdapterHub;
    FakeAdapter(std::mutex& lock, std::uint64_t luid, int machine, std::u16string pool,
                std::u16string name);

    std::mutex& lock;
    const std::uint64_t fixedLuid;
    const int machine;
    std::u16string poolName;
    std::u16string adapterName;
    bool removed = false;
    FakeSession* session = nullptr; // owned by the hub while it runs
    std::optional<Ipv4Cidr> givenAddress;
    std::optional<std::uint32_t> givenMtu;
    int addressCount = 0;
    std::deque<Packet> written;
    std::uint32_t writtenRoom = 0; // send ring bytes held by written packets
};

class FakeAdapterHub final : public FakeAdapterBackend {
public:
    // One hub at a time per process; it must outlive the runs that use it.
    FakeAdapterHub();
    ~FakeAdapterHub();
    FakeAdapterHub(const FakeAdapterHub&) = delete;
    FakeAdapterHub& operator=(const FakeAdapterHub&) = delete;

    // The adapters created so far, in creation order; each pointer stays valid
    // as long as the hub.
    std::vector<FakeAdapter*> adapters() const;
    // The adapter (not deleted) that has this address now, or null.
    FakeAdapter* adapterWithAddress(const Ipv4Cidr& address) const;

    // The ring room that a packet of this size takes: a 16-byte header and the
    // packet rounded up to 16 bytes, as in our Linux library's rings.
    static std::uint32_t roomFor(std::uint32_t packetSize) {
        return 16 + ((packetSize + 15) & ~15u);
    }

    // The hub alive now, or null; for the library and the address configuration.
    static FakeAdapterHub* current();

    // The address configuration (FakeAddressConfig.cpp), keyed by LUID as the
    // real one is; each returns 0 or an errno value.
    int interfaceIndexOfLuid(std::uint64_t luid, std::uint32_t& index);
    int addAddress(std::uint32_t address, std::uint32_t mask, std::uint32_t index,
                   std::uint32_t& context);
    int deleteAddress(std::uint32_t context);
    int setMtu(std::uint64_t luid, std::uint32_t mtu);

    // FakeAdapterBackend, for the library.
    WintunAdapterHandle createAdapter(const WintunWchar* pool, const WintunWchar* name) override;
    WintunAdapterHandle openAdapter(const WintunWchar* pool, const WintunWchar* name) override;
    bool deleteAdapter(WintunAdapterHandle adapter, bool forceCloseSessions) override;
    bool deletePool(const WintunWchar* pool) override;
    bool enumAdapters(const WintunWchar* pool, WintunEnumCallback callback,
                      WintunLParam param) override;
    void freeAdapter(WintunAdapterHandle adapter) override;
    WintunLuid luidOf(WintunAdapterHandle adapter) override;
    bool nameOf(WintunAdapterHandle adapter, WintunWchar* name) override;
    bool rename(WintunAdapterHandle adapter, const WintunWchar* name) override;
    WintunSessionHandle startSession(WintunAdapterHandle adapter, std::uint32_t capacity) override;
    void endSession(WintunSessionHandle session) override;
    int readWaitDescriptor(WintunSessionHandle session) override;
    std::uint8_t* receive(WintunSessionHandle session, std::uint32_t& size) override;
    void releaseReceived(WintunSessionHandle session, const std::uint8_t* packet) override;
    std::uint8_t* allocateSend(WintunSessionHandle session, std::uint32_t size) override;
    void send(WintunSessionHandle session, const std::uint8_t* packet) override;

private:
    struct Handle; // one per create or open, freed by freeAdapter

    FakeAdapter* adapterOf(WintunAdapterHandle handle) const;
    FakeSession* sessionOf(WintunSessionHandle handle) const;
    FakeAdapter* findOnThisMachine(const std::u16string& pool, const std::u16string& name) const;
    void removeAdapter(FakeAdapter& adapter);

    mutable std::mutex lock;
    std::vector<std::unique_ptr<FakeAdapter>> created;
    std::map<const Handle*, std::unique_ptr<Handle>> handles;
    std::map<const FakeSession*, std::unique_ptr<FakeSession>> sessions;
};

} // namespace testsupport
