#include "sdk/nat/Gateway.h"

#include "sdk/os/DefaultGateway.h"
#include "sdk/os/LocalSocket.h"

#include <natpmp.h>

#include <array>
#include <cstring>

namespace sdk::nat {

namespace {
// The router answers at once or not at all: three tries (at 0, 250 and
// 750 ms) are enough, and a stopping core never waits long.
constexpr std::chrono::milliseconds answerLimit{1750};
constexpr std::chrono::milliseconds waitSlice{50};

class NatPmpGateway final : public Gateway {
public:
    NatPmpGateway() = default;
    // Only a socket the library made: before that the structure names
    // descriptor 0, which belongs to someone else (standard input, or another
    // core's socket once standard input was closed).
    ~NatPmpGateway() override {
        if (initialized)
            closenatpmp(&natpmp);
    }
    NatPmpGateway(const NatPmpGateway&) = delete;
    NatPmpGateway& operator=(const NatPmpGateway&) = delete;

    // The gateway of this thread's network, found here: the library would
    // look at the process's.
    bool open() {
        const auto gateway = os::defaultGatewayIpv4();
        if (!gateway)
            return false;
        const std::array<std::uint8_t, 4> bytes{
            static_cast<std::uint8_t>(*gateway >> 24), static_cast<std::uint8_t>(*gateway >> 16),
            static_cast<std::uint8_t>(*gateway >> 8), static_cast<std::uint8_t>(*gateway)};
        std::uint32_t networkOrder = 0;
        std::memcpy(&networkOrder, bytes.data(), bytes.size());
        initialized = true; // even when it fails, the socket it made is ours to close
        return initnatpmp(&natpmp, 1, networkOrder) == 0;
    }

    std::optional<Mapping> map(std::uint16_t port, std::chrono::seconds lease,
                               std::stop_token stop) override {
        if (sendpublicaddressrequest(&natpmp) < 0)
            return std::nullopt;
        const auto address = answer(NATPMP_RESPTYPE_PUBLICADDRESS, stop);
        if (!address)
            return std::nullopt;
        // Network byte order, as it came.
        std::array<std::uint8_t, 4> bytes{};
        std::memcpy(bytes.data(), &address->pnu.publicaddress.addr, bytes.size());
        const std::uint32_t external = std::uint32_t{bytes[0]} << 24 |
                                       std::uint32_t{bytes[1]} << 16 |
                                       std::uint32_t{bytes[2]} << 8 | bytes[3];
        if (sendnewportmappingrequest(&natpmp, NATPMP_PROTOCOL_UDP, port, port,
                                      static_cast<std::uint32_t>(lease.count())) < 0)
            return std::nullopt;
        const auto mapped = answer(NATPMP_RESPTYPE_UDPPORTMAPPING, stop);
        if (!mapped || mapped->pnu.newportmapping.privateport != port ||
            mapped->pnu.newportmapping.mappedpublicport == 0 ||
            mapped->pnu.newportmapping.lifetime == 0)
            return std::nullopt;
        return Mapping{{external, mapped->pnu.newportmapping.mappedpublicport},
                       std::chrono::seconds(mapped->pnu.newportmapping.lifetime)};
    }

    void unmap(std::uint16_t port, const Mapping&) override {
        // A late answer to a renewal that was given up may come first (the
        // library then counts the request as answered): the deletion's own
        // has a lifetime of 0. Asked again, a few times at most.
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (sendnewportmappingrequest(&natpmp, NATPMP_PROTOCOL_UDP, port, 0, 0) < 0)
                return;
            const auto answered = answer(NATPMP_RESPTYPE_UDPPORTMAPPING, {});
            if (!answered || answered->pnu.newportmapping.lifetime == 0)
                return;
        }
    }

    const char* protocol() const override { return "NAT-PMP"; }

private:
    // The answer of the given type to the pending request; the library
    // repeats the request on its own schedule while we wait.
    std::optional<natpmpresp_t> answer(int type, const std::stop_token& stop) {
        const auto deadline = std::chrono::steady_clock::now() + answerLimit;
        while (!stop.stop_requested() && std::chrono::steady_clock::now() < deadline) {
            natpmpresp_t response{};
            const int result = readnatpmpresponseorretry(&natpmp, &response);
            if (result == 0 && response.type == type && response.resultcode == 0)
                return response;
            if (result != NATPMP_TRYAGAIN)
                return std::nullopt;
            os::waitForSocket(natpmp.s, false, waitSlice);
        }
        return std::nullopt;
    }

    natpmp_t natpmp{};
    bool initialized = false;
};
} // namespace

std::unique_ptr<Gateway> openNatPmpGateway() {
    auto gateway = std::make_unique<NatPmpGateway>();
    if (!gateway->open())
        return nullptr;
    return gateway;
}

} // namespace sdk::nat
