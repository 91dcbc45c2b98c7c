#include "tests/support/fake-adapter/FakeAdapterHub.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <stdexcept>
#include <utility>

#include <arpa/inet.h>

namespace testsupport {

namespace {

std::atomic<FakeAdapterHub*> currentHub{nullptr};

// No real interface's LUID has this in its top 16 bits.
constexpr std::uint64_t fakeLuidTag = 0xFA4EULL << 48;

// Each thread is a machine: a run does everything with its adapter on its
// worker thread.
int machineOfThisThread() {
    static std::atomic<int> machines{0};
    thread_local const int machine = ++machines;
    return machine;
}

std::optional<std::u16string> nameFrom(const WintunWchar* text) {
    if (text == nullptr)
        return std::nullopt;
    std::u16string name(text);
    if (name.empty() || name.size() >= wintunMaxAdapterName)
        return std::nullopt;
    return name;
}

bool isPowerOfTwoCapacity(std::uint32_t capacity) {
    return std::has_single_bit(capacity) && capacity >= wintunMinRingCapacity &&
           capacity <= wintunMaxRingCapacity;
}

} // namespace

// A packet session: the packets injected and not yet received, those handed
// to the run and not yet released, and those allocated and not yet sent.
class FakeSession {
public:
    FakeSession(FakeAdapter& adapter, std::uint32_t capacity)
        : adapter(&adapter), capacity(capacity),
          readable(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
        if (readable < 0)
            throw std::runtime_error("no eventfd for a fake session");
    }
    ~FakeSession() { ::close(readable); }
    FakeSession(const FakeSession&) = delete;
    FakeSession& operator=(const FakeSession&) = delete;

    // Readable while packets wait.
    void signalWaiting() {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(readable, &one, sizeof one);
    }
    void clearWaiting() {
        std::uint64_t count = 0;
        [[maybe_unused]] auto read = ::read(readable, &count, sizeof count);
    }

    struct Outgoing {
        Packet packet;
        bool sent = false;
    };

    FakeAdapter* adapter; // null once the adapter was deleted under the session
    const std::uint32_t capacity;
    const int readable;
    std::deque<Packet> waiting;
    std::map<const std::uint8_t*, Packet> handedOut;
    std::uint32_t receiveRoom = 0; // waiting and handed out
    std::deque<Outgoing> allocated;
    std::uint32_t allocatedRoom = 0;
};

struct FakeAdapterHub::Handle {
    FakeAdapter* adapter;
};

FakeAdapter::FakeAdapter(std::mutex& lock, std::uint64_t luid, int machine, std::u16string pool,
                         std::u16string name)
    : lock(lock), fixedLuid(luid), machine(machine), poolName(std::move(pool)),
      adapterName(std::move(name)) {}

std::u16string FakeAdapter::pool() const {
    std::lock_guard guard(lock);
    return poolName;
}

std::u16string FakeAdapter::name() const {
    std::lock_guard guard(lock);
    return adapterName;
}

bool FakeAdapter::deleted() const {
    std::lock_guard guard(lock);
    return removed;
}

bool FakeAdapter::hasSession() const {
    std::lock_guard guard(lock);
    return session != nullptr;
}

std::optional<Ipv4Cidr> FakeAdapter::address() const {
    std::lock_guard guard(lock);
    return givenAddress;
}

std::optional<std::uint32_t> FakeAdapter::mtu() const {
    std::lock_guard guard(lock);
    return givenMtu;
}

int FakeAdapter::addressChanges() const {
    std::lock_guard guard(lock);
    return addressCount;
}

bool FakeAdapter::inject(const Packet& packet) {
    std::lock_guard guard(lock);
    if (session == nullptr || packet.empty() || packet.size() > wintunMaxIpPacketSize)
        return false;
    const std::uint32_t room = FakeAdapterHub::roomFor(static_cast<std::uint32_t>(packet.size()));
    if (session->receiveRoom + room > session->capacity)
        return false;
    session->receiveRoom += room;
    session->waiting.push_back(packet);
    if (session->waiting.size() == 1)
        session->signalWaiting();
    return true;
}

std::vector<Packet> FakeAdapter::takeWritten() {
    std::lock_guard guard(lock);
    std::vector<Packet> taken(std::make_move_iterator(written.begin()),
                              std::make_move_iterator(written.end()));
    written.clear();
    writtenRoom = 0;
    return taken;
}

FakeAdapterHub::FakeAdapterHub() {
    FakeAdapterHub* none = nullptr;
    if (!currentHub.compare_exchange_strong(none, this))
        throw std::logic_error("a FakeAdapterHub is already alive");
}

FakeAdapterHub::~FakeAdapterHub() {
    currentHub = nullptr;
}

FakeAdapterHub* FakeAdapterHub::current() {
    return currentHub.load();
}

std::vector<FakeAdapter*> FakeAdapterHub::adapters() const {
    std::lock_guard guard(lock);
    std::vector<FakeAdapter*> all;
    for (const auto& adapter : created)
        all.push_back(adapter.get());
    return all;
}

FakeAdapter* FakeAdapterHub::adapterWithAddress(const Ipv4Cidr& address) const {
    std::lock_guard guard(lock);
    for (const auto& adapter : created)
        if (!adapter->removed && adapter->givenAddress == address)
            return adapter.get();
    return nullptr;
}

FakeAdapter* FakeAdapterHub::adapterOf(WintunAdapterHandle handle) const {
    const auto found = handles.find(reinterpret_cast<const Handle*>(handle));
    if (found == handles.end()) {
        errno = EINVAL;
        return nullptr;
    }
    return found->second->adapter;
}

FakeSession* FakeAdapterHub::sessionOf(WintunSessionHandle handle) const {
    const auto found = sessions.find(reinterpret_cast<const FakeSession*>(handle));
    if (found == sessions.end()) {
        errno = EINVAL;
        return nullptr;
    }
    return found->second.get();
}

FakeAdapter* FakeAdapterHub::findOnThisMachine(const std::u16string& pool,
                                               const std::u16string& name) const {
    const int machine = machineOfThisThread();
    for (const auto& adapter : created)
        if (!adapter->removed && adapter->machine == machine && adapter->poolName == pool &&
            adapter->adapterName == name)
            return adapter.get();
    return nullptr;
}

WintunAdapterHandle FakeAdapterHub::createAdapter(const WintunWchar* pool,
                                                  const WintunWchar* name) {
    const auto poolName = nameFrom(pool);
    const auto adapterName = nameFrom(name);
    if (!poolName || !adapterName) {
        errno = EINVAL;
        return nullptr;
    }
    std::lock_guard guard(lock);
    if (findOnThisMachine(*poolName, *adapterName) != nullptr) {
        errno = EEXIST;
        return nullptr;
    }
    const std::uint64_t luid = fakeLuidTag | (created.size() + 1);
    created.push_back(std::unique_ptr<FakeAdapter>(
        new FakeAdapter(lock, luid, machineOfThisThread(), *poolName, *adapterName)));
    auto handle = std::make_unique<Handle>(Handle{created.back().get()});
    const Handle* key = handle.get();
    handles.emplace(key, std::move(handle));
    return reinterpret_cast<WintunAdapterHandle>(const_cast<Handle*>(key));
}

WintunAdapterHandle FakeAdapterHub::openAdapter(const WintunWchar* pool, const WintunWchar* name) {
    const auto poolName = nameFrom(pool);
    const auto adapterName = nameFrom(name);
    if (!poolName || !adapterName) {
        errno = EINVAL;
        return nullptr;
    }
    std::lock_guard guard(lock);
    FakeAdapter* adapter = findOnThisMachine(*poolName, *adapterName);
    if (adapter == nullptr) {
        errno = ENOENT;
        return nullptr;
    }
    auto handle = std::make_unique<Handle>(Handle{adapter});
    const Handle* key = handle.get();
    handles.emplace(key, std::move(handle));
    return reinterpret_cast<WintunAdapterHandle>(const_cast<Handle*>(key));
}

void FakeAdapterHub::removeAdapter(FakeAdapter& adapter) {
    adapter.removed = true;
    adapter.givenAddress.reset(); // the interface takes its address with it
    if (adapter.session != nullptr) {
        adapter.session->adapter = nullptr; // the run still ends it
        adapter.session = nullptr;
    }
}

bool FakeAdapterHub::deleteAdapter(WintunAdapterHandle handle, bool forceCloseSessions) {
    std::lock_guard guard(lock);
    FakeAdapter* adapter = adapterOf(handle);
    if (adapter == nullptr)
        return false;
    if (adapter->removed) {
        errno = ENODEV;
        return false;
    }
    if (adapter->session != nullptr && !forceCloseSessions) {
        errno = EBUSY;
        return false;
    }
    removeAdapter(*adapter);
    return true;
}

bool FakeAdapterHub::deletePool(const WintunWchar* pool) {
    const auto poolName = nameFrom(pool);
    if (!poolName) {
        errno = EINVAL;
        return false;
    }
    std::lock_guard guard(lock);
    const int machine = machineOfThisThread();
    for (const auto& adapter : created)
        if (!adapter->removed && adapter->machine == machine && adapter->poolName == *poolName)
            removeAdapter(*adapter);
    return true;
}

bool FakeAdapterHub::enumAdapters(const WintunWchar* pool, WintunEnumCallback callback,
                                  WintunLParam param) {
    const auto poolName = nameFrom(pool);
    if (!poolName || callback == nullptr) {
        errno = EINVAL;
        return false;
    }
    // The callback may call the library again: it runs without the lock, with
    // handles that are freed after it.
    std::vector<WintunAdapterHandle> listed;
    {
        std::lock_guard guard(lock);
        const int machine = machineOfThisThread();
        for (const auto& adapter : created)
            if (!adapter->removed && adapter->machine == machine &&
                adapter->poolName == *poolName) {
                auto handle = std::make_unique<Handle>(Handle{adapter.get()});
                listed.push_back(reinterpret_cast<WintunAdapterHandle>(handle.get()));
                handles.emplace(handle.get(), std::move(handle));
            }
    }
    for (WintunAdapterHandle handle : listed)
        if (!callback(handle, param))
            break;
    for (WintunAdapterHandle handle : listed)
        freeAdapter(handle);
    return true;
}

void FakeAdapterHub::freeAdapter(WintunAdapterHandle handle) {
    std::lock_guard guard(lock);
    handles.erase(reinterpret_cast<const Handle*>(handle));
}

WintunLuid FakeAdapterHub::luidOf(WintunAdapterHandle handle) {
    std::lock_guard guard(lock);
    const FakeAdapter* adapter = adapterOf(handle);
    return adapter != nullptr ? adapter->fixedLuid : 0;
}

bool FakeAdapterHub::nameOf(WintunAdapterHandle handle, WintunWchar* name) {
    std::lock_guard guard(lock);
    const FakeAdapter* adapter = adapterOf(handle);
    if (adapter == nullptr || name == nullptr)
        return false;
    std::copy(adapter->adapterName.begin(), adapter->adapterName.end(), name);
    name[adapter->adapterName.size()] = u'\0';
    return true;
}

bool FakeAdapterHub::rename(WintunAdapterHandle handle, const WintunWchar* name) {
    const auto adapterName = nameFrom(name);
    std::lock_guard guard(lock);
    FakeAdapter* adapter = adapterOf(handle);
    if (adapter == nullptr)
        return false;
    if (!adapterName) {
        errno = EINVAL;
        return false;
    }
    adapter->adapterName = *adapterName;
    return true;
}

WintunSessionHandle FakeAdapterHub::startSession(WintunAdapterHandle handle,
                                                 std::uint32_t capacity) {
    std::lock_guard guard(lock);
    FakeAdapter* adapter = adapterOf(handle);
    if (adapter == nullptr)
        return nullptr;
    if (adapter->removed) {
        errno = ENODEV;
        return nullptr;
    }
    if (!isPowerOfTwoCapacity(capacity)) {
        errno = EINVAL;
        return nullptr;
    }
    if (adapter->session != nullptr) {
        errno = EBUSY;
        return nullptr;
    }
    auto session = std::make_unique<FakeSession>(*adapter, capacity);
    adapter->session = session.get();
    const FakeSession* key = session.get();
    sessions.emplace(key, std::move(session));
    return reinterpret_cast<WintunSessionHandle>(const_cast<FakeSession*>(key));
}

void FakeAdapterHub::endSession(WintunSessionHandle handle) {
    std::lock_guard guard(lock);
    FakeSession* session = sessionOf(handle);
    if (session == nullptr)
        return;
    if (session->adapter != nullptr)
        session->adapter->session = nullptr;
    sessions.erase(session); // packets still held by the caller go with it
}

int FakeAdapterHub::readWaitDescriptor(WintunSessionHandle handle) {
    std::lock_guard guard(lock);
    const FakeSession* session = sessionOf(handle);
    return session != nullptr ? session->readable : -1;
}

std::uint8_t* FakeAdapterHub::receive(WintunSessionHandle handle, std::uint32_t& size) {
    std::lock_guard guard(lock);
    FakeSession* session = sessionOf(handle);
    if (session == nullptr)
        return nullptr;
    if (session->adapter == nullptr) {
        errno = ENODEV;
        return nullptr;
    }
    if (session->waiting.empty()) {
        errno = EAGAIN;
        return nullptr;
    }
    // Its own allocation of the exact size: a read past its end is seen by
    // the address sanitizer.
    Packet packet = std::move(session->waiting.front());
    session->waiting.pop_front();
    if (session->waiting.empty())
        session->clearWaiting();
    size = static_cast<std::uint32_t>(packet.size());
    std::uint8_t* data = packet.data();
    session->handedOut.emplace(data, std::move(packet));
    return data;
}

void FakeAdapterHub::releaseReceived(WintunSessionHandle handle, const std::uint8_t* packet) {
    std::lock_guard guard(lock);
    FakeSession* session = sessionOf(handle);
    if (session == nullptr)
        return;
    const auto found = session->handedOut.find(packet);
    if (found == session->handedOut.end())
        return;
    session->receiveRoom -= roomFor(static_cast<std::uint32_t>(found->second.size()));
    session->handedOut.erase(found);
}

std::uint8_t* FakeAdapterHub::allocateSend(WintunSessionHandle handle, std::uint32_t size) {
    std::lock_guard guard(lock);
    FakeSession* session = sessionOf(handle);
    if (session == nullptr)
        return nullptr;
    if (session->adapter == nullptr) {
        errno = ENODEV;
        return nullptr;
    }
    if (size == 0 || size > wintunMaxIpPacketSize) {
        errno = EINVAL;
        return nullptr;
    }
    if (session->allocatedRoom + session->adapter->writtenRoom + roomFor(size) >
        session->capacity) {
        errno = ENOBUFS;
        return nullptr;
    }
    session->allocatedRoom += roomFor(size);
    session->allocated.push_back({Packet(size), false});
    return session->allocated.back().packet.data();
}

void FakeAdapterHub::send(WintunSessionHandle handle, const std::uint8_t* packet) {
    std::lock_guard guard(lock);
    FakeSession* session = sessionOf(handle);
    if (session == nullptr)
        return;
    const auto found =
        std::find_if(session->allocated.begin(), session->allocated.end(),
                     [&](const FakeSession::Outgoing& out) { return out.packet.data() == packet; });
    if (found == session->allocated.end())
        return;
    found->sent = true;
    // Packets leave in the order of their allocation.
    while (!session->allocated.empty() && session->allocated.front().sent) {
        Packet leaving = std::move(session->allocated.front().packet);
        session->allocated.pop_front();
        const std::uint32_t room = roomFor(static_cast<std::uint32_t>(leaving.size()));
        session->allocatedRoom -= room;
        if (session->adapter != nullptr) {
            session->adapter->writtenRoom += room;
            session->adapter->written.push_back(std::move(leaving));
        }
    }
}

int FakeAdapterHub::interfaceIndexOfLuid(std::uint64_t luid, std::uint32_t& index) {
    std::lock_guard guard(lock);
    for (std::size_t i = 0; i < created.size(); ++i)
        if (created[i]->fixedLuid == luid && !created[i]->removed) {
            index = static_cast<std::uint32_t>(i + 1);
            return 0;
        }
    return EINVAL;
}

int FakeAdapterHub::addAddress(std::uint32_t address, std::uint32_t mask, std::uint32_t index,
                               std::uint32_t& context) {
    const std::uint32_t hostMask = ntohl(mask);
    const int prefix = std::popcount(hostMask);
    if (address == 0 || std::countl_one(hostMask) != prefix)
        return EINVAL;
    std::lock_guard guard(lock);
    if (index == 0 || index > created.size() || created[index - 1]->removed)
        return ENODEV;
    FakeAdapter& adapter = *created[index - 1];
    for (const auto& other : created)
        if (!other->removed && other->machine == adapter.machine && other->givenAddress &&
            other->givenAddress->address == address)
            return EEXIST;
    adapter.givenAddress = Ipv4Cidr{address, static_cast<std::uint8_t>(prefix)};
    ++adapter.addressCount;
    context = address;
    return 0;
}

int FakeAdapterHub::deleteAddress(std::uint32_t context) {
    std::lock_guard guard(lock);
    const int machine = machineOfThisThread();
    for (const auto& adapter : created)
        if (!adapter->removed && adapter->machine == machine && adapter->givenAddress &&
            adapter->givenAddress->address == context) {
            adapter->givenAddress.reset();
            return 0;
        }
    return ENOENT;
}

int FakeAdapterHub::setMtu(std::uint64_t luid, std::uint32_t mtu) {
    std::lock_guard guard(lock);
    for (const auto& adapter : created)
        if (adapter->fixedLuid == luid && !adapter->removed) {
            adapter->givenMtu = mtu;
            return 0;
        }
    return EINVAL;
}

} // namespace testsupport

// Found by every copy of the fake adapter library (FakeAdapterBackend.h).
extern "C" __attribute__((visibility("default"))) FakeAdapterBackend* vaskorFakeAdapterHub() {
    return testsupport::FakeAdapterHub::current();
}
