#pragma once

#include <string_view>

// Puts every network that bears this name into the private category: on
// Windows through the Network List Manager; on Linux the interfaces of our
// adapters with this name go into firewalld's "home" zone where firewalld
// runs. Nothing is reported: a network that cannot be marked keeps its category.
void markNamedNetworksPrivate(std::u16string_view name);
