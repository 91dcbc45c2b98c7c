#include "sdk/nat/Gateway.h"

namespace sdk::nat {

// The Windows build has no NAT-PMP library; the port mapper then goes on
// with what UPnP found, or maps nothing.
std::unique_ptr<Gateway> openNatPmpGateway() {
    return nullptr;
}

} // namespace sdk::nat
