#pragma once

// The kernel's list of IPv6 addresses and their flags (/proc/net/if_inet6):
// one line per address, "<32 hex digits> <index> <prefix> <scope> <flags>
// <name>", the numbers in hex.

#include <istream>
#include <string>
#include <vector>

namespace sdk::os {

// The addresses whose flags have a bit of mask, as the list writes them. A
// line of any other form is left out: a list read while it changes must not
// end the core's pass.
std::vector<std::string> ipv6AddressesFlagged(std::istream& list, unsigned mask);

} // namespace sdk::os
