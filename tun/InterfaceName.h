#pragma once

#include <string>
#include <string_view>

// The Linux interface name for an adapter name: at most 15 bytes of letters,
// digits, '-', '_' and '.', every other character (the space included) becoming
// '-', so "Orvanti VPN" gives "Orvanti-VPN". Attempt n > 0 gives a variant
// ending in "-n" for when the plain name is taken.
std::string interfaceNameFor(std::u16string_view adapterName, unsigned attempt = 0);
