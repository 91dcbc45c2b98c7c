#pragma once

#include "vpn/Vpn.h"

#include <memory>

// The one run of this execution; empty until the user starts one.
extern std::unique_ptr<Vpn> currentVpn;
