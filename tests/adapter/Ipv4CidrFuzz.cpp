#include "adapter/Ipv4Cidr.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

// Any text either parses to a value that survives a round trip through its
// text form, or fails with "Invalid IP Address".
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Ipv4Cidr value;
    try {
        value = Ipv4Cidr::parse(text.c_str());
    } catch (const std::range_error& error) {
        if (std::string(error.what()) != "Invalid IP Address")
            std::abort();
        return 0;
    }
    if (value.prefix > 32)
        std::abort();
    if (Ipv4Cidr::parse(value.toString().c_str()) != value)
        std::abort();
    try {
        const Ipv4Cidr next = value.offset(1);
        if ((next.address & next.netmask()) != (value.address & value.netmask()))
            std::abort();
    } catch (const std::range_error&) {
    }
    return 0;
}
