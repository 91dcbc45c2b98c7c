#include "app/CurrentVpn.h"

std::unique_ptr<Vpn> currentVpn;
