#pragma once

// The adapter's interface calls, with the semantics of the Windows IP Helper
// functions of the same purpose on both systems. Each returns 0 or an error
// code in std::system_category() terms: a Windows error code there, an errno
// value on Linux.

#include <cstdint>

// The interface index of an adapter LUID. Fails with ERROR_INVALID_PARAMETER
// (EINVAL) when no interface has that LUID.
int interfaceIndexOfLuid(std::uint64_t luid, std::uint32_t& index);

// Adds an IPv4 address with its mask (both in network byte order) to an
// interface. On success context identifies the address for its deletion and
// instance is the system's instance value. An address that any interface
// already holds is refused (ERROR_OBJECT_ALREADY_EXISTS, EEXIST).
// On Linux the interface is also brought up, and while the address is there
// the network's broadcast and 255.255.255.255 leave through the interface.
int addInterfaceAddress(std::uint32_t address, std::uint32_t mask, std::uint32_t interfaceIndex,
                        std::uint32_t& context, std::uint32_t& instance);

// Removes the address that addInterfaceAddress added under this context and
// instance, and no other: on Linux the context is the address and the
// instance the interface, so the same address on another interface stays.
// Windows needs only the context.
int deleteInterfaceAddress(std::uint32_t context, std::uint32_t instance);

// Sets the interface's IPv4 MTU in bytes.
int setInterfaceMtu(std::uint64_t luid, std::uint32_t mtu);
