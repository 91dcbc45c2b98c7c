#include "sdk/nat/Gateway.h"

#include "sdk/os/DefaultGateway.h"

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>
#include <miniupnpc/upnperrors.h>

#include <charconv>
#include <cstring>
#include <string>
#include <string_view>

namespace sdk::nat {

namespace {
constexpr int conflictInMappingEntry = 718;
constexpr int onlyPermanentLeasesSupported = 725;
constexpr const char* description = "Vaskor VPN";

class UpnpGateway final : public Gateway {
public:
    UpnpGateway(const UPNPUrls& urls, const IGDdatas& data, std::string lanAddress)
        : urls(urls), data(data), lanAddress(std::move(lanAddress)) {}
    ~UpnpGateway() override { FreeUPNPUrls(&urls); }
    UpnpGateway(const UpnpGateway&) = delete;
    UpnpGateway& operator=(const UpnpGateway&) = delete;

    std::optional<Mapping> map(std::uint16_t port, std::chrono::seconds lease,
                               std::stop_token) override {
        char externalText[40] = {};
        if (UPNP_GetExternalIPAddress(urls.controlURL, data.first.servicetype, externalText) != 0)
            return std::nullopt;
        const auto external = os::parseIpv4Address(externalText);
        if (!external)
            return std::nullopt;
        const std::string internal = std::to_string(port);
        auto leaseSeconds = lease.count();
        int result = add(internal, leaseSeconds);
        // Older routers keep only permanent mappings (renewed all the same).
        if (result == onlyPermanentLeasesSupported) {
            leaseSeconds = 0;
            result = add(internal, leaseSeconds);
        }
        std::uint16_t externalPort = port;
        if (result == conflictInMappingEntry) {
            // Someone else on the network has this port: the router picks one.
            char reserved[8] = {};
            if (UPNP_AddAnyPortMapping(urls.controlURL, data.first.servicetype, internal.c_str(),
                                       internal.c_str(), lanAddress.c_str(), description, "UDP",
                                       nullptr, std::to_string(leaseSeconds).c_str(),
                                       reserved) != 0)
                return std::nullopt;
            const std::string_view text(reserved, strnlen(reserved, sizeof reserved));
            const auto [end, failed] =
                std::from_chars(text.data(), text.data() + text.size(), externalPort);
            if (failed != std::errc() || end != text.data() + text.size() || externalPort == 0)
                return std::nullopt;
        } else if (result != 0) {
            return std::nullopt;
        }
        return Mapping{{*external, externalPort}, std::chrono::seconds(leaseSeconds)};
    }

    void unmap(std::uint16_t, const Mapping& mapping) override {
        UPNP_DeletePortMapping(urls.controlURL, data.first.servicetype,
                               std::to_string(mapping.external.port).c_str(), "UDP", nullptr);
    }

    const char* protocol() const override { return "UPnP IGD"; }

private:
    // The same port outside as inside.
    int add(const std::string& port, std::chrono::seconds::rep lease) {
        return UPNP_AddPortMapping(urls.controlURL, data.first.servicetype, port.c_str(),
                                   port.c_str(), lanAddress.c_str(), description, "UDP", nullptr,
                                   std::to_string(lease).c_str());
    }

    UPNPUrls urls;
    IGDdatas data;
    std::string lanAddress;
};
} // namespace

bool urlIsAt(std::string_view url, std::uint32_t address) {
    constexpr std::string_view scheme = "http://";
    if (!url.starts_with(scheme))
        return false;
    url.remove_prefix(scheme.size());
    const auto end = url.find_first_of(":/?#");
    const std::string host(url.substr(0, end));
    // A user part ("a@b") or anything but dotted digits is not the gateway.
    const auto parsed = os::parseIpv4Address(host);
    return parsed && *parsed == address;
}

namespace {
// Keeps the devices whose description is at the gateway; frees the others.
UPNPDev* atGateway(UPNPDev* devices, std::uint32_t gateway) {
    UPNPDev* kept = nullptr;
    UPNPDev** tail = &kept;
    while (devices) {
        UPNPDev* device = devices;
        devices = device->pNext;
        device->pNext = nullptr;
        if (device->descURL && urlIsAt(device->descURL, gateway)) {
            *tail = device;
            tail = &device->pNext;
        } else {
            freeUPNPDevlist(device);
        }
    }
    return kept;
}
} // namespace

std::unique_ptr<Gateway> findUpnpGateway(std::chrono::milliseconds discovery) {
    const auto gateway = os::defaultGatewayIpv4();
    if (!gateway)
        return nullptr;
    int error = 0;
    // One search for the first version, which every gateway answers: each
    // further kind searched would add the whole wait on a router without UPnP.
    UPNPDev* devices = upnpDiscoverDevice("urn:schemas-upnp-org:device:InternetGatewayDevice:1",
                                          static_cast<int>(discovery.count()), nullptr, nullptr,
                                          UPNP_LOCAL_PORT_ANY, 0, 2, &error);
    devices = atGateway(devices, *gateway);
    if (!devices)
        return nullptr;
    UPNPUrls urls{};
    IGDdatas data{};
    char lanAddress[64] = {};
    const int found = UPNP_GetValidIGD(devices, &urls, &data, lanAddress, sizeof lanAddress);
    freeUPNPDevlist(devices);
    // 1: connected; 2: the router calls itself not connected, which it also
    // does on a WAN address of a reserved range: mapping works all the same.
    if (found != 1 && found != 2) {
        if (found != 0)
            FreeUPNPUrls(&urls);
        return nullptr;
    }
    // The gateway's description may name another control point: not believed.
    if (!urls.controlURL || !urlIsAt(urls.controlURL, *gateway)) {
        FreeUPNPUrls(&urls);
        return nullptr;
    }
    return std::make_unique<UpnpGateway>(urls, data, lanAddress);
}

} // namespace sdk::nat
