#pragma once

// A Linux interface's stand-in for the Windows NET_LUID: the interface index in
// the low 32 bits under the interface type of a virtual adapter
// (IF_TYPE_PROP_VIRTUAL, 53) in the top 16, so that 0 is never a valid LUID.

#include <cstdint>
#include <optional>

constexpr std::uint64_t virtualInterfaceType = 53;

constexpr std::uint64_t luidFromInterfaceIndex(std::uint32_t index) {
    return (virtualInterfaceType << 48) | index;
}

constexpr std::optional<std::uint32_t> interfaceIndexFromLuid(std::uint64_t luid) {
    auto index = static_cast<std::uint32_t>(luid);
    if ((luid >> 32) != (virtualInterfaceType << 16) || index == 0)
        return std::nullopt;
    return index;
}
