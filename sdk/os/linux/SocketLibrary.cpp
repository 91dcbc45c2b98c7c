#include "sdk/os/SocketLibrary.h"

namespace sdk::os {

SocketLibrary::SocketLibrary() = default;
SocketLibrary::~SocketLibrary() = default;

} // namespace sdk::os
