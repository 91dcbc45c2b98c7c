#include "platform/NetworkCategory.h"

#include <netlistmgr.h>
#include <objbase.h>
#include <windows.h>

namespace {

bool bearsName(INetwork* network, std::u16string_view name) {
    BSTR networkName = nullptr;
    if (FAILED(network->GetName(&networkName)) || networkName == nullptr)
        return false;
    std::u16string_view text(reinterpret_cast<const char16_t*>(networkName),
                             SysStringLen(networkName));
    bool same = text == name;
    SysFreeString(networkName);
    return same;
}

void markIn(INetworkListManager* manager, std::u16string_view name) {
    IEnumNetworks* networks = nullptr;
    if (FAILED(manager->GetNetworks(NLM_ENUM_NETWORK_ALL, &networks)))
        return;
    // Every network is visited: several may bear the name.
    INetwork* network = nullptr;
    while (networks->Next(1, &network, nullptr) == S_OK) {
        if (bearsName(network, name))
            network->SetCategory(NLM_NETWORK_CATEGORY_PRIVATE);
        network->Release();
    }
    networks->Release();
}

} // namespace

void markNamedNetworksPrivate(std::u16string_view name) {
    HRESULT initialised = CoInitialize(nullptr);
    INetworkListManager* manager = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_NetworkListManager, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_INetworkListManager, reinterpret_cast<void**>(&manager)))) {
        markIn(manager, name);
        manager->Release();
    }
    // Only a successful initialisation (S_OK or S_FALSE) is balanced.
    if (SUCCEEDED(initialised))
        CoUninitialize();
}
